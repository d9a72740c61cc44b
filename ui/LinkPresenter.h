#pragma once

#include "export/TextFiles.h"
#include "link/LinkEvents.h"
#include "ui/RealtimeDisplay.h"

#include <string>

namespace talviren {

// What the presenter asks of the window.
class LinkView {
public:
    virtual ~LinkView() = default;
    // The port status: its caption, and the device and reason behind it.
    virtual void showPortStatus(const std::string& caption, const PortDetail& detail) = 0;
    // The link status caption.
    virtual void showLinkStatus(const std::string& caption) = 0;
    // The quantity names and value texts of the live view.
    virtual void showRealtime(const RealtimeDisplay& display) = 0;
    // A download under way: readings received of those expected.
    virtual void showDownloadProgress(int readingsReceived, int readingsExpected) = 0;
    // No download under way.
    virtual void hideDownloadProgress() = 0;
};

// Turns the engine's events into the window's texts: the two status captions and the captions
// of the live view. Plain C++, so that every text can be tested without a window.
class LinkPresenter : public LinkEvents {
public:
    // Captions of the two status labels.
    static constexpr const char* kPortStatusInitial = "COM status";
    static constexpr const char* kLinkStatusInitial = "unconnected";
    static constexpr const char* kLinkStatusConnected = "Connected";
    static constexpr const char* kLinkStatusLost =
        "\u901A\u4FE1\u5931\u8D25"; // communication failed

    // The caption of a port tried: "COM3 Open", or "COM3Unviable" when it did not open.
    static std::string portCaption(const PortAttempt& attempt);

    explicit LinkPresenter(LinkView& view) : view_(view) {}

    void portTried(const PortAttempt& attempt) override;
    void linkCameUp(const LinkUp& up) override;
    void linkLost(const LinkLoss& loss) override;
    void liveReading(const TimedReading& reading) override;
    void downloadProgress(const DownloadProgress& progress) override;
    void downloadEnded(const DownloadResult& result) override;

    const std::string& portStatus() const { return portStatus_; }
    const std::string& linkStatus() const { return linkStatus_; }
    const RealtimeDisplay& display() const { return display_; }
    // The live view's captions as they stand, for its text file.
    RealtimeCaptions captions() const;

private:
    LinkView& view_;
    std::string portStatus_ = kPortStatusInitial;
    std::string linkStatus_ = kLinkStatusInitial;
    RealtimeDisplay display_;
};

} // namespace talviren
