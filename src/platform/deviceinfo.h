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
