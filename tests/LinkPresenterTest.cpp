// The window's texts from the engine's events, without a window.

#include "ui/LinkPresenter.h"

#include <gtest/gtest.h>

using namespace talviren;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the window would show.
struct ShownTexts : LinkView {
    void showPortStatus(const std::string& caption, const PortDetail& detail) override {
        port = caption;
        device = detail.devicePath;
    }
    void showLinkStatus(const std::string& caption) override { links.push_back(caption); }
    void showRealtime(const RealtimeDisplay& display) override {
        names = {display.name(0), display.name(1)};
        values = {display.value(0), display.value(1)};
        ++realtimeShown;
    }
    void showDownloadProgress(int received, int expected) override {
        progress = std::to_string(received) + "/" + std::to_string(expected);
    }
    void hideDownloadProgress() override { progress = "hidden"; }

    std::string port;
    std::string device;
    std::vector<std::string> links;
    std::vector<std::string> names{"AC I:", "AC U:"};
    std::vector<std::string> values{"0mA", "000.0V"};
    int realtimeShown = 0;
    std::string progress;
};

TimedReading live(const Bytes& bytes) {
    TimedReading reading;
    static_cast<DecodedReading&>(reading) = decodeReading(*MeterReading::fromBytes(bytes), ".");
    return reading;
}

TEST(LinkPresenter, StatusCaptionsFollowTheEvents) {
    ShownTexts shown;
    LinkPresenter presenter(shown);
    EXPECT_EQ(presenter.portStatus(), "COM status");
    EXPECT_EQ(presenter.linkStatus(), "unconnected");
    const struct {
        PortAttempt attempt;
        const char* caption;
    } ports[] = {
        {{1, OpenResult::InUse, {"/dev/ttyUSB0", "busy"}}, "COM1Unviable"},
        {{2, OpenResult::NoSuchPort, {}}, "COM2Unviable"},
        {{12, OpenResult::OtherFailure, {"/dev/ttyS3", "Permission denied"}}, "COM12Unviable"},
        {{16, OpenResult::Opened, {"/dev/ttyUSB1", ""}}, "COM16 Open"},
    };
    for (const auto& p : ports) {
        presenter.portTried(p.attempt);
        EXPECT_EQ(shown.port, p.caption);
        EXPECT_EQ(shown.device, p.attempt.detail.devicePath);
    }
    presenter.linkLost({false}); // the watchdog while the scan searches
    presenter.linkCameUp({16, "/dev/ttyUSB1"});
    presenter.linkLost({true});
    EXPECT_EQ(shown.links, (std::vector<std::string>{"\u901A\u4FE1\u5931\u8D25", "Connected",
                                                     "\u901A\u4FE1\u5931\u8D25"}));
    EXPECT_EQ(presenter.linkStatus(), "\u901A\u4FE1\u5931\u8D25");
    presenter.downloadProgress({70, 700});
    EXPECT_EQ(shown.progress, "10/100");
    presenter.downloadEnded({});
    EXPECT_EQ(shown.progress, "hidden");
}

TEST(LinkPresenter, RealtimeCaptionsFollowASequenceOfReadings) {
    ShownTexts shown;
    LinkPresenter presenter(shown);
    struct Step {
        Bytes reply;
        std::vector<std::string> names;
        std::vector<std::string> values;
    };
    const std::vector<Step> steps = {
        {{1, 12, 34, 1, 23, 13, 0}, {"AC I: ", "AC U: "}, {"12.34A", "231.3V"}},
        {{2, 0, 85, 0, 3, 10, 1}, {"AC I: ", "DC U: "}, {"85mA", "-31V"}},
        {{3, 1, 44, 2, 12, 28, 0}, {"AC I: ", "R: "}, {"14.4A", "1.228k\u03A9"}},
        {{1, 100, 50, 5, 80, 0, 0}, {"AC I: ", "AC U: "}, {"OLA", "OLV"}},
        // range code 6 keeps the current text while the second is updated
        {{1, 1, 1, 6, 0, 50, 0}, {"AC I: ", "AC U: "}, {"OLA", "5V"}},
        // unknown function codes change nothing at all
        {{0, 1, 1, 0, 1, 1, 0}, {"AC I: ", "AC U: "}, {"OLA", "5V"}},
        {{4, 1, 1, 0, 1, 1, 0}, {"AC I: ", "AC U: "}, {"OLA", "5V"}},
    };
    for (const Step& step : steps) {
        presenter.liveReading(live(step.reply));
        EXPECT_EQ(shown.names, step.names);
        EXPECT_EQ(shown.values, step.values);
    }
    EXPECT_EQ(shown.realtimeShown, 5) << "nothing to show for unknown functions";
    const RealtimeCaptions captions = presenter.captions();
    EXPECT_EQ(captions.names[1], "AC U: ");
    EXPECT_EQ(captions.values[0], "OLA");
}

} // namespace
