#include "platform/linux/usernotificationsdbus.h"

#include "platform/dispatch.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMutex>
#include <QVariantMap>

#include <spdlog/spdlog.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A hung notification daemon must not hold a notification back for D-Bus's 25 s default.
constexpr int kCallTimeoutMs = 5000;

QAtomicInteger<quint64> g_connectionSerial;

// The "image-data" hint: (iiibiiay) width, height, row stride, alpha, bits per sample,
// channels, pixels.
QVariant imageHint(const QImage& source)
{
    QImage image = source;
    if (image.width() > UserNotificationsDBus::kMaxImageSide || image.height() > UserNotificationsDBus::kMaxImageSide)
        image = image.scaled(UserNotificationsDBus::kMaxImageSide, UserNotificationsDBus::kMaxImageSide,
                             Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument arg;
    arg.beginStructure();
    arg << image.width() << image.height() << static_cast<int>(image.bytesPerLine()) << true << 8 << 4
        << QByteArray(reinterpret_cast<const char*>(image.constBits()), static_cast<qsizetype>(image.sizeInBytes()));
    arg.endStructure();
    return QVariant::fromValue(arg);
}

}  // namespace

struct UserNotificationsDBus::State {
    QString address;
    QString connectionName;  // set when we opened a private connection
    bool opened = false;
    bool closed = false;      // main thread only, like everything below but the fallback
    QMutex fallbackMutex;
    Fallback fallback;

    QDBusConnection bus()
    {
        if (address.isEmpty())
            return QDBusConnection::sessionBus();
        if (!opened) {
            opened = true;
            connectionName = QStringLiteral("nuvarel-notifications-%1").arg(++g_connectionSerial);
            return QDBusConnection::connectToBus(address, connectionName);
        }
        return QDBusConnection(connectionName);
    }

    void fallBack(const UserNotification& n, const QString& why)
    {
        if (closed)
            return;
        Fallback f;
        {
            QMutexLocker lock(&fallbackMutex);
            f = fallback;
        }
        if (!f) {
            spdlog::warn("notification \"{}\" not shown: {}", n.title.toStdString(), why.toStdString());
            return;
        }
        spdlog::info("no notification service ({}); using the fallback", why.toStdString());
        f(n);
    }

    static void deliverOnMain(const std::shared_ptr<State>& state, const UserNotification& n);
    static void sendNotify(const std::shared_ptr<State>& state, const UserNotification& n, bool bodyIsMarkup);
};

// Asks the service what it can do first: a server that reads markup in the body would
// otherwise render a clip's "<a href=...>" or "<b>" as its own.
void UserNotificationsDBus::State::deliverOnMain(const std::shared_ptr<State>& state, const UserNotification& n)
{
    if (state->closed)
        return;
    QDBusConnection bus = state->bus();
    if (!bus.isConnected()) {
        state->fallBack(n, QStringLiteral("no session bus"));
        return;
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [state, n](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            state->fallBack(n, reply.error().message());
            return;
        }
        sendNotify(state, n, reply.value().contains(QStringLiteral("body-markup")));
    });
}

void UserNotificationsDBus::State::sendNotify(const std::shared_ptr<State>& state, const UserNotification& n,
                                              bool bodyIsMarkup)
{
    if (state->closed)
        return;
    QVariantMap hints;
    if (!n.contentImage.isNull())
        hints.insert(QStringLiteral("image-data"), imageHint(n.contentImage));
    if (n.playsDefaultSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);

    QString appName = QCoreApplication::applicationName();
    if (appName.isEmpty())
        appName = QStringLiteral("Nuvarel");
    const QString body = bodyIsMarkup ? n.informativeText.toHtmlEscaped() : n.informativeText;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << appName << 0u << QString() << n.title << body << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(state->bus().asyncCall(call, kCallTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [state, n](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError())
            state->fallBack(n, reply.error().message());
    });
}

UserNotificationsDBus::UserNotificationsDBus(const QString& busAddress)
    : m_state(std::make_shared<State>())
{
    m_state->address = busAddress;
}

UserNotificationsDBus::~UserNotificationsDBus()
{
    auto state = m_state;
    auto close = [state] {
        state->closed = true;
        if (!state->connectionName.isEmpty())
            QDBusConnection::disconnectFromBus(state->connectionName);
    };
    // Without an application (static destruction at exit) no reply can arrive any more.
    if (dispatch::isMainThread() || !QCoreApplication::instance())
        close();
    else
        dispatch::mainAsync(close);
}

void UserNotificationsDBus::deliverNotification(const UserNotification& notification)
{
    auto state = m_state;
    if (dispatch::isMainThread())
        State::deliverOnMain(state, notification);
    else
        dispatch::mainAsync([state, notification] { State::deliverOnMain(state, notification); });
}

void UserNotificationsDBus::setFallback(Fallback fallback)
{
    QMutexLocker lock(&m_state->fallbackMutex);
    m_state->fallback = std::move(fallback);
}
