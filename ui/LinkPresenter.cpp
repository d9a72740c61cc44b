#include "ui/LinkPresenter.h"

namespace talviren {

std::string LinkPresenter::portCaption(const PortAttempt& attempt) {
    // Every failed open reads "Unviable": a port that did not open cannot be "Open".
    return "COM" + std::to_string(attempt.port) + (attempt.opened() ? " Open" : "Unviable");
}

void LinkPresenter::portTried(const PortAttempt& attempt) {
    portStatus_ = portCaption(attempt);
    view_.showPortStatus(portStatus_, attempt.detail);
}

void LinkPresenter::linkCameUp(const LinkUp&) {
    linkStatus_ = kLinkStatusConnected;
    view_.showLinkStatus(linkStatus_);
}

void LinkPresenter::linkLost(const LinkLoss&) {
    // Told again at every fifth silent tick while the scan searches.
    linkStatus_ = kLinkStatusLost;
    view_.showLinkStatus(linkStatus_);
}

void LinkPresenter::liveReading(const TimedReading& reading) {
    if (display_.ShowRealtimeReading(reading)) {
        view_.showRealtime(display_);
    }
}

void LinkPresenter::downloadProgress(const DownloadProgress& progress) {
    view_.showDownloadProgress(progress.readingsReceived(), progress.readingsExpected());
}

void LinkPresenter::downloadEnded(const DownloadResult&) {
    view_.hideDownloadProgress();
}

RealtimeCaptions LinkPresenter::captions() const {
    RealtimeCaptions captions;
    for (int k = 0; k < 2; ++k) {
        captions.names[k] = display_.name(k);
        captions.values[k] = display_.value(k);
    }
    return captions;
}

} // namespace talviren
