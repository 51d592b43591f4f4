#include "store/deviceidentity.h"

#include "platform/bundle.h"
#include "platform/deviceinfo.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"
#include "store/digest.h"

#include <QMutex>
#include <QUuid>

#include <chrono>

namespace {
// Lock order: g_tokenMutex, then g_mutex, then the settings store's own lock.
// Held over the whole first use of the token, so two threads never make two tokens.
QMutex g_tokenMutex;
// The two caches.
QMutex g_mutex;
QString g_token;
QString g_serial;
const QString kDeviceTokenKey = DefaultsKey::DeviceToken;
}

QString platformSerialNumber()
{
    QMutexLocker lock(&g_mutex);
    if (g_serial.isEmpty())
        g_serial = DeviceInfo::current().serialNumber();
    return g_serial;
}

QString currentDeviceToken()
{
    QMutexLocker tokenLock(&g_tokenMutex);
    {
        QMutexLocker lock(&g_mutex);
        if (!g_token.isEmpty())
            return g_token;
    }
    QString token;
    const auto stored = ClipUserDefaults::standardUserDefaults().string(kDeviceTokenKey);
    if (stored && !stored->isEmpty()) {
        token = *stored;
    } else {
        // A new random token, never one derived from the machine: every home on a machine (two
        // users, two trial instances, a cloned disk) reads the same machine id, and two clients
        // with one token share one MQTT client id, so the broker keeps dropping one for the
        // other and each ignores the other's messages as its own. A stored token is kept above,
        // so an installation never changes identity.
        token = md5HexOfString(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        ClipUserDefaults::standardUserDefaults().setValue(kDeviceTokenKey, token);
    }
    QMutexLocker lock(&g_mutex);
    g_token = token;
    return g_token;
}

QString currentDeviceType()
{
    const auto v = DeviceInfo::current().osVersion();
    return DeviceInfo::current().osTypePrefix()
        + QStringLiteral("%1.%2.%3").arg(v[0]).arg(v[1]).arg(v[2]);
}

QString hostDeviceName()
{
    return DeviceInfo::current().hostName();
}

QString appShortVersion()
{
    return Bundle::shortVersion();
}

QString appVersionString()
{
    return QStringLiteral("%1_%2").arg(Bundle::shortVersion(), Bundle::buildVersion());
}

double unixTimeNowNumber()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void resetDeviceIdentityCache()
{
    QMutexLocker tokenLock(&g_tokenMutex);
    QMutexLocker lock(&g_mutex);
    g_token.clear();
    g_serial.clear();
}
