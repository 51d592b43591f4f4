#pragma once

#include "platform/deviceinfo.h"

// This machine as the system reports it: machine-id, host name, kernel version.
class SystemDeviceInfo : public DeviceInfo {
public:
    QString serialNumber() const override;
    QString hostName() const override;
    std::array<long, 3> osVersion() const override;
    QString osTypePrefix() const override;
};
