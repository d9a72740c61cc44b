#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace talviren {

// Outcome of opening a port by number.
enum class OpenResult {
    Opened,
    InUse,        // locked or busy: another program has it
    NoSuchPort,   // no device stands for that number
    OtherFailure, // permission denied and everything else
};

// What the window can tell the user about the port last tried.
struct PortDetail {
    std::string devicePath;    // empty when no device stands for the number
    std::string failureReason; // the system's words, empty after a successful open
};

// The serial line as the link engine sees it. Implemented over QSerialPort in the program
// and by a scripted fake in the tests.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Closes any open port is the caller's job; opens port n (1 to 16) at 9600 8N1.
    virtual OpenResult open(int portNumber) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Puts bytes on the line.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // Bytes received and not yet read.
    virtual std::size_t bytesWaiting() const = 0;
    // Takes every waiting byte.
    virtual std::vector<std::uint8_t> readAll() = 0;
    // Drops received bytes not yet read.
    virtual void discardInput() = 0;
    // Drops queued output that is not a command: a command already written always
    // reaches the line.
    virtual void discardOutput() = 0;
    // Device path and failure reason of the last open.
    virtual PortDetail lastOpenDetail() const = 0;

    // Called whenever new bytes have arrived.
    void setDataHandler(std::function<void()> handler) { dataHandler_ = std::move(handler); }

protected:
    void notifyData() {
        if (dataHandler_) {
            dataHandler_();
        }
    }

private:
    std::function<void()> dataHandler_;
};

// A periodic timer that can be switched on and off; ticks reach the handler.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

    void setTickHandler(std::function<void()> handler) { tickHandler_ = std::move(handler); }

protected:
    void notifyTick() {
        if (tickHandler_) {
            tickHandler_();
        }
    }

private:
    std::function<void()> tickHandler_;
};

} // namespace talviren
