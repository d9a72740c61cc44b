#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    // Widget tests need a platform even where no display exists.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Settings the tests change stay out of the user's own.
    std::string config = "/tmp/talviren-tests-XXXXXX";
    const bool ownConfig = !std::getenv("XDG_CONFIG_HOME") && mkdtemp(config.data());
    if (ownConfig) {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (ownConfig) {
        std::error_code ignored;
        std::filesystem::remove_all(config, ignored);
    }
    return status;
}
