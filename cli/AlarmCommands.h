#pragma once

#include "alarm/AlarmEngine.h"

#include <QObject>
#include <QProcessEnvironment>

#include <deque>
#include <functional>
#include <set>
#include <string>

class QProcess;

namespace talviren::cli {

// Runs the user's --on-alarm command with /bin/sh -c on every raise and clear, apart from the
// readings' path: at most four at once, further events waiting in order. The event reaches the
// command only through its environment (TALVIREN_ALARM, TALVIREN_ALARM_STATE,
// TALVIREN_ALARM_VALUE, TALVIREN_ALARM_TIME, TALVIREN_METER_ID); nothing from the meter is put
// into the command line. What the command prints goes to standard error.
class AlarmCommands : public QObject, public AlarmListener {
public:
    static constexpr int kMostAtOnce = 4;

    // `say` takes a line for standard error (a command that failed, once per alarm).
    AlarmCommands(std::string command, std::string meterId,
                  std::function<void(const std::string&)> say);
    ~AlarmCommands() override;

    void alarmChanged(const AlarmEvent& event) override;
    // Waits up to `graceMs` for the commands running and waiting, then sends SIGTERM to those
    // still running.
    void finish(int graceMs);

    int running() const { return static_cast<int>(running_.size()); }

private:
    void startNext();
    void ended(QProcess* process, const std::string& alarm, bool failed, const std::string& why);

    std::string command_;
    std::string meterId_;
    std::function<void(const std::string&)> say_;
    std::deque<QProcessEnvironment> waiting_;
    std::set<QProcess*> running_;
    std::set<std::string> toldFailed_; // alarms whose command failure was told
};

} // namespace talviren::cli
