#pragma once

#include <QString>
#include <QStringList>

// Device identity sent with every web request and used as the MQTT client id.

// The platform serial number; empty when there is none. Read again while it is empty.
QString platformSerialNumber();
// The stored "deviceToken"; when there is none, the MD5 hex of a new random UUID, stored
// there (one token per installation, however many share the machine).
QString currentDeviceToken();
// "linux_" (or "osx_") and the OS version as major.minor.patch.
QString currentDeviceType();
QString hostDeviceName();
QString appShortVersion();
// "<short version>_<build>"
QString appVersionString();

// Current time in Unix seconds with its fraction.
double unixTimeNowNumber();

// Test hook: forgets the cached token and serial number.
void resetDeviceIdentityCache();
