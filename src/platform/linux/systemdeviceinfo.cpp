#include "platform/linux/systemdeviceinfo.h"

#include <QRegularExpression>
#include <QSysInfo>

QString SystemDeviceInfo::serialNumber() const
{
    // machine-id: stable for the installation, the closest peer of a hardware serial number.
    return QString::fromLatin1(QSysInfo::machineUniqueId()).trimmed();
}

QString SystemDeviceInfo::hostName() const
{
    return QSysInfo::machineHostName();
}

std::array<long, 3> SystemDeviceInfo::osVersion() const
{
    std::array<long, 3> v{0, 0, 0};
    // The kernel version, e.g. "6.1.0-18-amd64": take the leading numbers.
    static const QRegularExpression re(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto m = re.match(QSysInfo::kernelVersion());
    if (m.hasMatch())
        for (int i = 0; i < 3; ++i)
            v[i] = m.captured(i + 1).toLong();
    return v;
}

QString SystemDeviceInfo::osTypePrefix() const
{
#ifdef Q_OS_MACOS
    return QStringLiteral("osx_");
#else
    return QStringLiteral("linux_");
#endif
}
