#include "platform/dispatch.h"
#include "platform/linux/usernotificationsdbus.h"
#include "platform/fake/usernotificationsfake.h"
#include "support/testenv.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

UserNotification sample()
{
    UserNotification n;
    n.title = QStringLiteral("已设置剪贴板");
    n.informativeText = QStringLiteral("<b>bold</b> & <a href=\"http://x\">link</a>");
    return n;
}

// Collects what reaches the fallback (the tray icon's message in the app).
struct FallbackLog {
    std::atomic<int> calls{0};
    std::atomic<bool> allOnMain{true};
    QString lastTitle;
    QString lastText;

    UserNotificationsDBus::Fallback fn()
    {
        return [this](const UserNotification& n) {
            allOnMain = allOnMain && dispatch::isMainThread();
            lastTitle = n.title;
            lastText = n.informativeText;
            ++calls;
        };
    }
};

// A private bus: a dbus-daemon of the test's own with a minimal configuration.
class PrivateBus {
public:
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty())
            return false;
        const QString config = testenv::home() + QStringLiteral("/bus.conf");
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                    .arg(testenv::home())
                    .toUtf8());
        f.close();
        m_daemon.start(program, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(5000))
            return false;
        while (!m_daemon.canReadLine())
            if (!m_daemon.waitForReadyRead(5000))
                return false;
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished(5000);
        }
    }
    QString address;

private:
    QProcess m_daemon;
};

// The desktop's notification daemon, as far as the client sees it.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    QStringList capabilities{QStringLiteral("body")};
    std::atomic<bool> failNotify{false};

    struct Call {
        QString appName;
        QString title;
        QString body;
        QVariantMap hints;
        int imageWidth = 0, imageHeight = 0, stride = 0, channels = 0;
        qsizetype imageBytes = 0;
    };
    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(QVariant(capabilities)));
            return true;
        }
        if (message.member() != QStringLiteral("Notify"))
            return false;
        const QList<QVariant> args = message.arguments();
        Call call;
        if (args.size() == 8) {
            call.appName = args[0].toString();
            call.title = args[3].toString();
            call.body = args[4].toString();
            args[6].value<QDBusArgument>() >> call.hints;
            if (call.hints.contains(QStringLiteral("image-data"))) {
                const QDBusArgument image = call.hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
                bool alpha = false;
                int bits = 0;
                QByteArray data;
                image.beginStructure();
                image >> call.imageWidth >> call.imageHeight >> call.stride >> alpha >> bits >> call.channels >> data;
                image.endStructure();
                call.imageBytes = data.size();
            }
        }
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
        }
        if (failNotify)
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("no")));
        else
            connection.send(message.createReply(QVariant(7u)));
        return true;
    }

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
};

class NotificationsOnABus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.start())
            GTEST_SKIP() << "dbus-daemon is not available";
    }
    void TearDown() override
    {
        if (serving)
            QDBusConnection::disconnectFromBus(QStringLiteral("test-notification-server"));
    }
    void serve()
    {
        QDBusConnection server = QDBusConnection::connectToBus(bus.address, QStringLiteral("test-notification-server"));
        ASSERT_TRUE(server.isConnected());
        serving = true;
        ASSERT_TRUE(server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &daemon));
        ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    PrivateBus bus;
    bool serving = false;
    FakeNotificationServer daemon;
    FallbackLog fallback;
};

}  // namespace

TEST(UserNotificationsDBus, FallsBackWhenThereIsNoBus)
{
    FallbackLog fallback;
    // This process has no session bus; an unreachable address stands for it even where one runs.
    for (const QString& address : {QString(), QStringLiteral("unix:path=/nonexistent/bus")}) {
        if (address.isEmpty() && !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            continue;
        const int before = fallback.calls;
        UserNotificationsDBus notifications(address);
        notifications.setFallback(fallback.fn());
        // From a worker thread, as the reminder completion delivers.
        std::thread([&] { notifications.deliverNotification(sample()); }).join();
        ASSERT_TRUE(testenv::waitUntil([&] { return fallback.calls == before + 1; }));
        EXPECT_TRUE(fallback.allOnMain);
        EXPECT_EQ(fallback.lastTitle, sample().title);
        EXPECT_EQ(fallback.lastText, sample().informativeText);  // the tray shows plain text
    }
}

TEST_F(NotificationsOnABus, FallsBackWhenNoServiceOwnsTheName)
{
    UserNotificationsDBus notifications(bus.address);
    notifications.setFallback(fallback.fn());
    notifications.deliverNotification(sample());
    ASSERT_TRUE(testenv::waitUntil([&] { return fallback.calls == 1; }));
    EXPECT_EQ(fallback.lastTitle, sample().title);
}

TEST_F(NotificationsOnABus, SendsTitleBodyImageAndSound)
{
    serve();
    UserNotificationsDBus notifications(bus.address);
    notifications.setFallback(fallback.fn());
    UserNotification n = sample();
    n.contentImage = QImage(600, 300, QImage::Format_RGB32);
    n.contentImage.fill(Qt::red);
    notifications.deliverNotification(n);
    ASSERT_TRUE(testenv::waitUntil([&] { return daemon.calls().size() == 1; }));
    const auto call = daemon.calls().first();
    EXPECT_EQ(call.title, n.title);
    EXPECT_EQ(call.body, n.informativeText);  // this server shows plain text
    EXPECT_FALSE(call.appName.isEmpty());
    EXPECT_EQ(call.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
    EXPECT_EQ(call.imageWidth, UserNotificationsDBus::kMaxImageSide);
    EXPECT_EQ(call.imageHeight, UserNotificationsDBus::kMaxImageSide / 2);
    EXPECT_EQ(call.channels, 4);
    EXPECT_EQ(call.imageBytes, qsizetype(call.stride) * call.imageHeight);
    // A refused notification after it reaches the fallback; the server answers in order, so by
    // then the first answer was handled, and it sent nothing there.
    daemon.failNotify = true;
    UserNotification refused = sample();
    refused.title = QStringLiteral("refused");
    notifications.deliverNotification(refused);
    ASSERT_TRUE(testenv::waitUntil([&] { return fallback.calls > 0; }));
    EXPECT_EQ(fallback.calls, 1);
    EXPECT_EQ(fallback.lastTitle, refused.title);
}

TEST_F(NotificationsOnABus, EscapesTheBodyForAServerThatReadsMarkup)
{
    daemon.capabilities << QStringLiteral("body-markup");
    serve();
    UserNotificationsDBus notifications(bus.address);
    UserNotification n = sample();
    n.playsDefaultSound = false;
    notifications.deliverNotification(n);
    ASSERT_TRUE(testenv::waitUntil([&] { return daemon.calls().size() == 1; }));
    const auto call = daemon.calls().first();
    EXPECT_EQ(call.body, QStringLiteral("&lt;b&gt;bold&lt;/b&gt; &amp; &lt;a href=&quot;http://x&quot;&gt;link&lt;/a&gt;"));
    EXPECT_FALSE(call.hints.contains(QStringLiteral("sound-name")));
    EXPECT_TRUE(call.hints.value(QStringLiteral("suppress-sound")).toBool());
    EXPECT_FALSE(call.hints.contains(QStringLiteral("image-data")));
}

TEST_F(NotificationsOnABus, FallsBackWhenTheServerRefuses)
{
    daemon.failNotify = true;
    serve();
    UserNotificationsDBus notifications(bus.address);
    notifications.setFallback(fallback.fn());
    notifications.deliverNotification(sample());
    ASSERT_TRUE(testenv::waitUntil([&] { return fallback.calls == 1; }));
    EXPECT_EQ(daemon.calls().size(), 1);
}

TEST(UserNotifications, CurrentCanBeReplacedByTheFake)
{
    auto fake = std::make_shared<UserNotificationsFake>();
    UserNotifications::setCurrent(fake);
    std::thread([] { UserNotifications::current().deliverNotification(sample()); }).join();
    UserNotifications::current().deliverNotification(UserNotification{QStringLiteral("b"), {}, {}, true});
    ASSERT_EQ(fake->count(), 2);
    EXPECT_EQ(fake->delivered().first().title, sample().title);
    UserNotifications::setCurrent(nullptr);
}
