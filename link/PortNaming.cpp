#include "link/PortNaming.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

namespace talviren::ports {

namespace fs = std::filesystem;

fs::path configFolder() {
    fs::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = fs::path(home) / ".config";
    } else {
        config = ".config";
    }
    return config / "talviren";
}

fs::path pinnedPortsFolder() {
    return configFolder() / "ports";
}

fs::path pinnedPortLink(int portNumber) {
    return pinnedPortsFolder() / ("COM" + std::to_string(portNumber));
}

std::optional<std::string> pinnedDevice(int portNumber) {
    const fs::path link = pinnedPortLink(portNumber);
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(link, error))) {
        return std::nullopt;
    }
    fs::path target = fs::read_symlink(link, error);
    if (error) {
        return std::nullopt;
    }
    if (target.is_relative()) {
        target = link.parent_path() / target;
    }
    return target.string();
}

namespace {

bool isUsbAdapter(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return name.starts_with("ttyUSB") || name.starts_with("ttyACM");
}

// Compares names so that runs of digits order by their value: ttyS2 before ttyS10.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) {
                ++endA;
            }
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) {
                ++endB;
            }
            std::string numberA = a.substr(i, endA - i);
            std::string numberB = b.substr(j, endB - j);
            numberA.erase(0, std::min(numberA.find_first_not_of('0'), numberA.size()));
            numberB.erase(0, std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (numberA != numberB) {
                return numberA < numberB;
            }
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

} // namespace

std::vector<std::string> orderSerialDevices(std::vector<std::string> devices) {
    std::sort(devices.begin(), devices.end(), [](const std::string& a, const std::string& b) {
        const bool usbA = isUsbAdapter(a);
        const bool usbB = isUsbAdapter(b);
        if (usbA != usbB) {
            return usbA;
        }
        return naturalLess(a, b);
    });
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    return devices;
}

std::string devicePathForPort(int portNumber, const std::vector<std::string>& orderedDevices) {
    if (auto pinned = pinnedDevice(portNumber)) {
        return *pinned;
    }
    if (portNumber >= 1 && static_cast<std::size_t>(portNumber) <= orderedDevices.size()) {
        return orderedDevices[static_cast<std::size_t>(portNumber - 1)];
    }
    return {};
}

} // namespace talviren::ports
