#pragma once

#include "link/SerialPort.h"

#include <QObject>
#include <QSerialPort>

#include <string>
#include <vector>

namespace talviren {

// The meter's serial line over QSerialPort, asynchronous on the user-interface thread.
// Port numbers map to devices by the rule of link/PortNaming.h.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    OpenResult open(int portNumber) override;
    bool isOpen() const override;
    void close() override;
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t bytesWaiting() const override;
    std::vector<std::uint8_t> readAll() override;
    void discardInput() override;
    void discardOutput() override;
    PortDetail lastOpenDetail() const override { return lastDetail_; }

    // Device path of the open port, empty when closed.
    QString devicePath() const;

    // Replaces the source of the system's serial devices (tests keep real ports out).
    void setDeviceLister(std::function<std::vector<std::string>()> lister) {
        deviceLister_ = std::move(lister);
    }

private:
    void onError(QSerialPort::SerialPortError error);
    void takeArrivedBytes();
    // Moves what QSerialPort holds into received_.
    void drainPort();
    OpenResult fail(OpenResult result, std::string reason);

    QSerialPort port_;
    std::vector<std::uint8_t> received_; // bytes taken from the port, not yet read by the link
    std::vector<std::string> systemDevices_;
    bool devicesListed_ = false;
    int lastPortTried_ = 0;
    std::function<std::vector<std::string>()> deviceLister_;
    PortDetail lastDetail_;
};

} // namespace talviren
