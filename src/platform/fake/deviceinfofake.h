#pragma once

#include "platform/deviceinfo.h"

#include <QString>

#include <array>

// Facts set by the test; counts how often the serial number was read.
class DeviceInfoFake : public DeviceInfo {
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
