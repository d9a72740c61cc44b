#include "session/StudyRunner.h"

#include <QThread>

#include <algorithm>

namespace talviren {

// One study on its thread; it is given up by its flag.
struct StudyRunner::Run {
    std::atomic<bool> cancelled{false};
    QThread* thread = nullptr;
    ~Run() {
        cancelled = true;
        if (thread) {
            thread->wait();
            delete thread;
        }
    }
};

StudyRunner::StudyRunner(QObject* parent) : QObject(parent) {}

StudyRunner::~StudyRunner() {
    runs_.clear(); // each gives up and is waited for
}

void StudyRunner::start(std::vector<study::MeterFiles> files, const std::vector<RunMeter>& run,
                        study::StudySettings settings) {
    cancel();
    reap();
    // The run's readings, copied on this thread: the worker never sees a recording grow.
    std::vector<study::MeterReadings> atHand;
    for (const RunMeter& meter : run) {
        auto points = std::make_shared<std::vector<TrendPoint>>();
        points->reserve(meter.history->size());
        for (std::size_t i = 0; i < meter.history->size(); ++i) {
            points->push_back((*meter.history)[i]);
        }
        atHand.push_back({meter.name, [points](LogReadingSink& sink) {
                              for (const TrendPoint& p : *points) {
                                  sink.reading(p.wallMs, p.reading(), {}, {});
                              }
                          }});
    }
    auto own = std::make_unique<Run>();
    Run* state = own.get();
    const std::uint64_t generation = ++generation_;
    running_ = true;
    state->thread = QThread::create(
        [this, state, generation, files = std::move(files), atHand = std::move(atHand), settings] {
            const auto progress = [&](double share) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, share] {
                        if (generation == generation_) {
                            emit progressed(share);
                        }
                    },
                    Qt::QueuedConnection);
                return !state->cancelled.load();
            };
            auto outcome = std::make_shared<study::StudyOutcome>(
                study::runStudy(files, atHand, settings, progress));
            QMetaObject::invokeMethod(
                this,
                [this, generation, outcome] {
                    if (generation != generation_ || outcome->cancelled) {
                        return; // given up: a later study, or none, is what counts
                    }
                    running_ = false;
                    if (outcome->result) {
                        result_ =
                            std::make_shared<const study::StudyResult>(std::move(*outcome->result));
                        error_.clear();
                    } else {
                        error_ = outcome->error;
                    }
                    emit finished();
                },
                Qt::QueuedConnection);
        });
    runs_.push_back(std::move(own));
    state->thread->start(QThread::LowPriority);
}

void StudyRunner::cancel() {
    if (!runs_.empty()) {
        runs_.back()->cancelled = true;
    }
    if (running_) {
        running_ = false;
        ++generation_;
        emit cancelled();
    }
}

bool StudyRunner::idle() const {
    return std::all_of(runs_.begin(), runs_.end(), [](const std::unique_ptr<Run>& run) {
        return !run->thread || run->thread->isFinished();
    });
}

void StudyRunner::reap() {
    // Studies given up end soon (within a file); those that have ended go.
    std::erase_if(runs_, [](const std::unique_ptr<Run>& run) {
        return run->thread && run->thread->isFinished();
    });
}

} // namespace talviren
