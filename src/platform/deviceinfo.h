#pragma once

#include <QString>

#include <array>
#include <memory>

// Facts about this machine: the platform serial number, the host's name, the OS version.
class DeviceInfo {
public:
    virtual ~DeviceInfo() = default;

    // Empty when the platform has none.
    virtual QString serialNumber() const = 0;
    virtual QString hostName() const = 0;
    // major, minor, patch
    virtual std::array<long, 3> osVersion() const = 0;
    // "linux_" here, "osx_" on macOS.
    virtual QString osTypePrefix() const = 0;

    static DeviceInfo& current();
    // Replaces the current implementation (tests); nullptr restores the system one.
    static void setCurrent(std::shared_ptr<DeviceInfo> info);
};

class SystemDeviceInfo : public DeviceInfo {
public:
    QString serialNumber() const override;
    QString hostName() const override;
    std::array<long, 3> osVersion() const override;
    QString osTypePrefix() const override;
};

class FakeDeviceInfo : public DeviceInfo {
public:
    QString serial;
    QString host = QStringLiteral("test-host");
    std::array<long, 3> version{6, 1, 0};
    QString prefix = QStringLiteral("linux_");
    mutable int serialReads = 0;

    QString serialNumber() const override { ++serialReads; return serial; }
    QString hostName() const override { return host; }
    std::array<long, 3> osVersion() const override { return version; }
    QString osTypePrefix() const override { return prefix; }
};
