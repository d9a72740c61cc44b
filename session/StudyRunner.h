#pragma once

#include "study/LoadStudy.h"
#include "trend/TrendHistory.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QThread;

namespace talviren {

// Runs the window's load study on a worker thread: the files are read and studied there (the
// run's recordings are copied first, here), and the progress and the result come back to the
// event loop by queued calls, so that the window goes on polling its meter meanwhile. A second
// study asked for cancels the first. Qt: the thread and the hand-over.
class StudyRunner : public QObject {
    Q_OBJECT

public:
    // A meter of the run itself: its name and its readings so far.
    struct RunMeter {
        std::string name;
        const TrendHistory* history = nullptr;
    };

    explicit StudyRunner(QObject* parent = nullptr);
    ~StudyRunner() override; // gives up what runs, and waits for it to stop

    // Studies these meters (the files' first); whatever ran before is given up.
    void start(std::vector<study::MeterFiles> files, const std::vector<RunMeter>& run,
               study::StudySettings settings);
    // Gives up the study under way; its result never comes.
    void cancel();
    bool running() const { return running_; }
    // Whether no worker runs, not even one given up that has yet to notice.
    bool idle() const;

    // The last study that ended, none before; and why the last one asked for could not be made.
    const std::shared_ptr<const study::StudyResult>& result() const { return result_; }
    const std::string& error() const { return error_; }

signals:
    // How far the study under way has come, 0 to 1.
    void progressed(double share);
    // The study under way ended: result() holds it, or error() says why not.
    void finished();
    // The study under way was given up.
    void cancelled();

private:
    struct Run;
    void reap();

    std::vector<std::unique_ptr<Run>> runs_; // the one under way last
    std::uint64_t generation_ = 0;
    bool running_ = false;
    std::shared_ptr<const study::StudyResult> result_;
    std::string error_;
};

} // namespace talviren
