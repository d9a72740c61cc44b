#include "link/PortNaming.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace talviren::ports;
namespace fs = std::filesystem;

namespace {

TEST(PortNaming, UsbAdaptersFirstThenNaturalOrder) {
    const std::vector<std::string> devices = {"/dev/ttyS10",   "/dev/ttyS2",   "/dev/ttyACM0",
                                              "/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyS0",
                                              "/dev/ttyUSB2"};
    EXPECT_EQ(orderSerialDevices(devices),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                        "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10"}));
}

class PinnedPorts : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("talviren-ports-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        fs::create_directories(pinnedPortsFolder());
    }
    void TearDown() override {
        fs::remove_all(folder_);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    fs::path folder_;
};

TEST_F(PinnedPorts, LinkWinsOverTheSystemList) {
    EXPECT_EQ(pinnedPortLink(3), folder_ / "talviren" / "ports" / "COM3");
    fs::create_symlink("/dev/pts/77", pinnedPortLink(3));
    const std::vector<std::string> system = {"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyS1"};
    EXPECT_EQ(devicePathForPort(3, system), "/dev/pts/77") << "a dangling link still pins";
    EXPECT_EQ(devicePathForPort(1, system), "/dev/ttyUSB0");
    EXPECT_EQ(devicePathForPort(2, system), "/dev/ttyS0");
    EXPECT_EQ(devicePathForPort(4, system), "");
    EXPECT_EQ(devicePathForPort(16, {}), "");
}

TEST_F(PinnedPorts, RelativeLinksResolveAgainstTheFolder) {
    fs::create_symlink("../dev-x", pinnedPortLink(5));
    EXPECT_EQ(fs::path(*pinnedDevice(5)), pinnedPortsFolder() / "../dev-x");
    EXPECT_FALSE(pinnedDevice(6).has_value());
}

} // namespace
