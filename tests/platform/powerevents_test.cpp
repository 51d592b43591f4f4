#include "platform/fake/powereventsfake.h"
#include "platform/linux/powereventslogind.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A private message bus standing in for the system bus, so the test can play logind.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (m_daemon.waitForStarted() && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
    QString address() const { return m_address; }
    // A client of the bus; with a service name it owns that name.
    QDBusConnection client(const QString& name, const QString& service = QString())
    {
        m_names << name;
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, name);
        if (!service.isEmpty())
            bus.registerService(service);
        return bus;
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// Counts the two signals of a power events source.
struct Spy {
    explicit Spy(PowerEvents& events)
    {
        QObject::connect(&events, &PowerEvents::willSleep, [this] { ++sleeps; });
        QObject::connect(&events, &PowerEvents::didWake, [this] { ++wakes; });
    }
    int sleeps = 0;
    int wakes = 0;
};

void sendPrepareForSleep(QDBusConnection& bus, bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << start;
    ASSERT_TRUE(bus.send(signal));
}

}  // namespace

TEST(PowerEventsLogind, PrepareForSleepFromLogindBecomesWillSleepThenDidWake)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection logind = bus.client(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1"));
    ASSERT_TRUE(logind.isConnected());

    PowerEventsLogind events(bus.address());
    ASSERT_TRUE(events.isListening());
    Spy spy(events);

    sendPrepareForSleep(logind, true);
    ASSERT_TRUE(testenv::waitUntil([&] { return spy.sleeps == 1; }));
    EXPECT_EQ(spy.wakes, 0);
    sendPrepareForSleep(logind, false);
    ASSERT_TRUE(testenv::waitUntil([&] { return spy.wakes == 1; }));
    EXPECT_EQ(spy.sleeps, 1);
}

TEST(PowerEventsLogind, TheSameSignalFromAnyoneButLogindIsIgnored)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection logind = bus.client(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1"));
    QDBusConnection stranger = bus.client(QStringLiteral("stranger"));

    PowerEventsLogind events(bus.address());
    Spy spy(events);
    sendPrepareForSleep(stranger, true);
    // The bus delivers in order, so once logind's wake is in, the stranger's signal was seen first.
    sendPrepareForSleep(logind, false);
    ASSERT_TRUE(testenv::waitUntil([&] { return spy.wakes == 1; }));
    EXPECT_EQ(spy.sleeps, 0);
}

TEST(PowerEventsLogind, WithoutABusThereAreNoEventsAndNoError)
{
    PowerEventsLogind nowhere(QStringLiteral("unix:path=") + testenv::home() + QStringLiteral("/no-bus"));
    EXPECT_FALSE(nowhere.isListening());
    // The machine's own system bus, whether or not this machine has one.
    PowerEventsLogind system;
    Spy spy(system);
    // With a system bus, a call answered by the bus comes after anything it sent before.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected()) {
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        EXPECT_EQ(bus.call(ping).type(), QDBusMessage::ReplyMessage);
    }
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(spy.sleeps, 0);
    EXPECT_EQ(spy.wakes, 0);
}

TEST(PowerEventsFake, EmitsEachSignalOnDemand)
{
    PowerEventsFake events;
    Spy spy(events);
    events.simulateSleep();
    events.simulateWake();
    events.simulateWake();
    EXPECT_EQ(spy.sleeps, 1);
    EXPECT_EQ(spy.wakes, 2);
}
