#include "platform/linux/powereventslogind.h"

#include <QAtomicInteger>
#include <QDBusConnection>

#include <spdlog/spdlog.h>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSignal = QStringLiteral("PrepareForSleep");

QAtomicInteger<quint64> g_connections;
}  // namespace

PowerEventsLogind::PowerEventsLogind(const QString& busAddress, QObject* parent) : PowerEvents(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!busAddress.isEmpty()) {
        m_connectionName = QStringLiteral("nuvarel-power-%1").arg(g_connections.fetchAndAddRelaxed(1));
        bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    }
    if (!bus.isConnected()) {
        spdlog::info("power events: no system bus, sleep and wake will not be seen");
        return;
    }
    m_listening = bus.connect(kService, kPath, kInterface, kSignal, this, SLOT(prepareForSleep(bool)));
    if (!m_listening)
        spdlog::warn("power events: could not subscribe to {}", kSignal.toStdString());
}

PowerEventsLogind::~PowerEventsLogind()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

void PowerEventsLogind::prepareForSleep(bool start)
{
    if (start)
        emit willSleep();
    else
        emit didWake();
}
