#include "session/QtSerialPort.h"

#include "link/PortNaming.h"
#include "link/Protocol.h"

#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace talviren {

namespace fs = std::filesystem;

namespace {

// The group whose members may use the device; serial devices belong to dialout on Debian.
std::string accessGroup(const fs::path& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) == 0 && (info.st_mode & S_IRGRP) &&
        (info.st_mode & S_IWGRP)) {
        if (const group* owner = ::getgrgid(info.st_gid)) {
            return owner->gr_name;
        }
    }
    return "dialout";
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::takeArrivedBytes);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() {
    close();
}

OpenResult QtSerialPort::fail(OpenResult result, std::string reason) {
    lastDetail_.failureReason = std::move(reason);
    return result;
}

OpenResult QtSerialPort::open(int portNumber) {
    // The device list is taken afresh each time the scan starts over (a port no higher than
    // the last one: port 1 again, or the one port a pinned scan tries), so a cable plugged in
    // later, or plugged back under another number, is found on the next round.
    if (!devicesListed_ || portNumber <= lastPortTried_) {
        std::vector<std::string> found;
        if (deviceLister_) {
            found = deviceLister_();
        } else {
            for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
                found.push_back(info.systemLocation().toStdString());
            }
        }
        systemDevices_ = ports::orderSerialDevices(std::move(found));
        devicesListed_ = true;
    }
    lastPortTried_ = portNumber;
    lastDetail_ = {};
    const std::string path = ports::devicePathForPort(portNumber, systemDevices_);
    lastDetail_.devicePath = path;
    if (path.empty()) {
        return fail(OpenResult::NoSuchPort, "no serial device has this number");
    }
    std::error_code code;
    const fs::path device = fs::canonical(path, code);
    if (code) {
        return fail(OpenResult::NoSuchPort, code.message());
    }
    lastDetail_.devicePath = device.string();
    // QSerialPort reports a busy device and a forbidden one alike; ask the system first.
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        std::string reason = std::strerror(error);
        if (error == EACCES || error == EPERM) {
            reason += " (add yourself to the " + accessGroup(device) + " group)";
            return fail(OpenResult::OtherFailure, reason);
        }
        return fail(error == ENOENT ? OpenResult::NoSuchPort : OpenResult::OtherFailure, reason);
    }
    port_.setPortName(QString::fromStdString(device.string()));
    port_.setBaudRate(protocol::kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(0); // a record block can be 180 kB: never cap the input
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto error = port_.error();
        const std::string reason = port_.errorString().toStdString();
        port_.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return fail(OpenResult::NoSuchPort, reason);
        case QSerialPort::PermissionError: // access() passed, so the device is locked or busy
            return fail(OpenResult::InUse, reason);
        default:
            return fail(OpenResult::OtherFailure, reason);
        }
    }
    // Many meter cables draw their power from DTR and RTS. A pseudo-terminal refuses both;
    // that is no reason to give the port up.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
    // Bytes from before the open are no reply to anything we sent.
    discardInput();
    return OpenResult::Opened;
}

void QtSerialPort::takeArrivedBytes() {
    // QSerialPort reserves a fresh 32 KB chunk for every notification while earlier bytes are
    // still unread, so a record block left there until it is complete would cost gigabytes.
    // Take every chunk out at once and keep the bytes here.
    drainPort();
    notifyData();
}

void QtSerialPort::drainPort() {
    const QByteArray data = port_.readAll();
    received_.insert(received_.end(), data.begin(), data.end());
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}

void QtSerialPort::close() {
    received_.clear();
    if (port_.isOpen()) {
        port_.close();
    }
}

QString QtSerialPort::devicePath() const {
    return port_.isOpen() ? port_.portName() : QString();
}

void QtSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen()) {
        return;
    }
    port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // QSerialPort only queues; hand the command to the device now so that no later
    // buffer clearing can drop it.
    port_.flush();
}

std::size_t QtSerialPort::bytesWaiting() const {
    return received_.size();
}

std::vector<std::uint8_t> QtSerialPort::readAll() {
    drainPort(); // anything not yet announced by readyRead
    return std::exchange(received_, {});
}

void QtSerialPort::discardInput() {
    received_.clear();
    if (port_.isOpen()) {
        port_.clear(QSerialPort::Input);
    }
}

void QtSerialPort::discardOutput() {
    // The only output is commands, and every command must reach the meter: rather than
    // drop what is still queued, push it out.
    if (port_.isOpen() && port_.bytesToWrite() > 0) {
        port_.flush();
    }
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // A vanished device (USB cable pulled, the far end of a terminal closed) reports
    // ResourceError or, in Qt 6.4, an endless stream of ReadError. Close at once; the
    // watchdog then declares the loss and the scan takes over.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        close();
    }
}

} // namespace talviren
