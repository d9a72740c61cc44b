#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Which device stands for port number n (1 to 16) on Linux:
//  1. the target of the link COMn in $XDG_CONFIG_HOME/talviren/ports/ (default ~/.config),
//     when that link exists, so a user can pin a port and a simulator can pose as one;
//  2. otherwise the n-th serial device of the system, USB adapters (ttyUSB*, ttyACM*) first,
//     then the others, each group in natural number order.
namespace talviren::ports {

// talviren's own folder of settings: $XDG_CONFIG_HOME/talviren (default ~/.config/talviren).
std::filesystem::path configFolder();

// The folder of pinned ports.
std::filesystem::path pinnedPortsFolder();

// Path of the link for port n in that folder.
std::filesystem::path pinnedPortLink(int portNumber);

// Target of the pinned link for port n, if there is a link (even one pointing nowhere).
std::optional<std::string> pinnedDevice(int portNumber);

// System device paths in port order: USB adapters first, natural number order in each group.
std::vector<std::string> orderSerialDevices(std::vector<std::string> devices);

// Device for port n: the pinned one, else the n-th of the ordered system devices, else empty.
std::string devicePathForPort(int portNumber, const std::vector<std::string>& orderedDevices);

} // namespace talviren::ports
