#include "sync/mqttmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "store/configuremanager.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"
#include "store/notificationnames.h"
#include "sync/catchupmanager.h"
#include "sync/mqttmessagehandler.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <mosquitto.h>
#include <spdlog/spdlog.h>

#include <mutex>

namespace {

// The broker's fixed password for every client.
constexpr const char* kPassword = "4d2c9e17";

void ensureLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

namespace {
std::atomic<MqttManager*> g_made{nullptr};
}

MqttManager& MqttManager::sharedInstance()
{
    // Never destroyed: its queue's thread cannot be joined once the application object is
    // gone; finishIfMade() stops the client's own thread at exit.
    static MqttManager* instance = [] {
        auto* made = new MqttManager;
        g_made = made;
        return made;
    }();
    return *instance;
}

void MqttManager::finishIfMade()
{
    if (MqttManager* made = g_made.load())
        made->finish();
}

void MqttManager::finish()
{
    close();
    // Behind the stop close() queued, if any; joins the loop thread either way.
    m_control->sync([this] { stopClient(); });
}

MqttManager::MqttManager()
{
    ensureLibrary();
    m_context = new QObject;
    m_retryTimer = new QTimer(m_context);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(kRetryMilliseconds);
    QObject::connect(m_retryTimer, &QTimer::timeout, m_context, [this] { connect(); });
    if (QCoreApplication::instance() && m_context->thread() != QCoreApplication::instance()->thread())
        m_context->moveToThread(QCoreApplication::instance()->thread());
    m_messages = std::make_unique<MqttMessageHandler>();
    m_control = std::make_unique<SerialQueue>(QStringLiteral("mqtt control"));
    m_control->sync([this] { makeClient(); });
    NotificationCenter::defaultCenter().addObserver(NotificationName::UserLogouted, m_context,
                                                    [this](const Notification&) { userLogout(); });
}

MqttManager::~MqttManager() = default;

void MqttManager::makeClient()
{
    m_client = mosquitto_new(currentDeviceToken().toUtf8().constData(), true, this);
    if (!m_client) {
        spdlog::error("mqtt: could not make the client");
        return;
    }
    // MQTT 3.1, as the broker has always been spoken to.
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V31);
    mosquitto_username_pw_set(m_client, kUserName, kPassword);
    // Reconnect one second after a lost connection, without back-off.
    mosquitto_reconnect_delay_set(m_client, 1, 1, false);
    mosquitto_connect_callback_set(m_client, &MqttManager::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MqttManager::onDisconnect);
    mosquitto_subscribe_callback_set(m_client, &MqttManager::onSubscribe);
    messageHandle();
}

void MqttManager::destroyClient()
{
    stopClient();
    if (m_client)
        mosquitto_destroy(m_client);
    m_client = nullptr;
}

void MqttManager::messageHandle()
{
    // Made with the client on the control queue.
    if (m_client)
        mosquitto_message_callback_set(m_client, &MqttManager::onMessage);
}

QString MqttManager::topic()
{
    const auto userId = ConfigureManager::sharedInstance().loginUserId();
    if (!userId || userId->isEmpty())
        return QString();
    return QStringLiteral("user_id_") + *userId;
}

bool MqttManager::isRetryPending() const
{
    return m_retryTimer->isActive();
}

bool MqttManager::isSettled() const
{
    return m_messages->isSettled();
}

void MqttManager::connect()
{
    if (!ConfigureManager::sharedInstance().isLogined())
        return;
    // Connected, or an attempt is under way: one connection at a time.
    if (m_loopRunning)
        return;
    m_retryTimer->stop();

    UserDefaults& defaults = UserDefaults::standard();
    QString host = defaults.string(DefaultsKey::MqttHost).value_or(QString());
    if (host.isEmpty())
        host = kBuiltinHost;
    const int port = static_cast<int>(
        NumberReader::wholeNumber(defaults.value(DefaultsKey::MqttPort), 1, 65535).value_or(kBuiltinPort));

    const quint64 generation = ++m_generation;
    m_loopRunning = true;
    const QByteArray hostBytes = host.toUtf8();
    m_control->async([this, generation, hostBytes, port] { startClient(generation, hostBytes, port); });
}

void MqttManager::startClient(quint64 generation, const QByteArray& host, int port)
{
    // Closed again before this ran.
    if (generation != m_generation || !m_client)
        return;
    int rc = mosquitto_connect_async(m_client, host.constData(), port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_loop_start(m_client);
        if (rc != MOSQ_ERR_SUCCESS)
            mosquitto_disconnect(m_client);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        spdlog::warn("mqtt: connecting to {}:{} failed at once ({})", host.toStdString(), port, mosquitto_strerror(rc));
        dispatch::mainAsync([this, generation] { startFailed(generation); });
    }
}

void MqttManager::startFailed(quint64 generation)
{
    if (generation != m_generation)
        return;
    m_loopRunning = false;
    scheduleRetry();
}

void MqttManager::subscribe()
{
    const QString userTopic = topic();
    // Safe beside the loop thread; the client itself is only replaced by a test reset.
    if (!m_client || userTopic.isEmpty())
        return;
    mosquitto_subscribe(m_client, nullptr, userTopic.toUtf8().constData(), 1);
}

void MqttManager::close()
{
    m_retryTimer->stop();
    stopLoop();
    m_connected = false;
    m_subscribed = false;
}

void MqttManager::userLogout()
{
    close();
}

void MqttManager::stopLoop()
{
    if (!m_loopRunning)
        return;
    m_loopRunning = false;
    // Whatever the client reports from now on is about a connection that is gone.
    ++m_generation;
    m_control->async([this] { stopClient(); });
}

void MqttManager::stopClient()
{
    if (!m_client)
        return;
    // Sets the client to disconnecting, so the loop thread ends instead of reconnecting.
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
}

void MqttManager::scheduleRetry()
{
    if (!ConfigureManager::sharedInstance().isLogined())
        return;
    m_retryTimer->start();
}

void MqttManager::resetForTesting()
{
    close();
    m_messages->reset();
    m_control->sync([this] {
        destroyClient();
        makeClient();
    });
}

// Loop thread.
void MqttManager::onConnect(mosquitto* client, void* self, int returnCode)
{
    auto* manager = static_cast<MqttManager*>(self);
    if (returnCode != 0) {
        // Leaves the loop after this callback instead of reconnecting by itself; the main
        // thread joins it and retries later.
        mosquitto_disconnect(client);
    }
    const quint64 generation = manager->m_generation.load();
    dispatch::mainAsync([manager, generation, returnCode] { manager->connectResult(generation, returnCode); });
}

void MqttManager::onDisconnect(mosquitto*, void* self, int reason)
{
    auto* manager = static_cast<MqttManager*>(self);
    const quint64 generation = manager->m_generation.load();
    dispatch::mainAsync([manager, generation, reason] { manager->connectionLost(generation, reason); });
}

void MqttManager::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* manager = static_cast<MqttManager*>(self);
    if (!message || !message->topic)
        return;
    if (message->payloadlen < 0 || message->payloadlen > kMaxPayloadBytes) {
        spdlog::warn("mqtt: a message of {} bytes dropped", message->payloadlen);
        return;
    }
    // libmosquitto frees the message when this returns: hand over copies.
    const QByteArray topic(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const quint64 generation = manager->m_generation.load();
    dispatch::mainAsync(
        [manager, generation, topic, payload] { manager->handleMessage(generation, topic, payload); });
}

void MqttManager::onSubscribe(mosquitto*, void* self, int, int count, const int* grantedQos)
{
    auto* manager = static_cast<MqttManager*>(self);
    // 0x80 is the broker's refusal of a subscription.
    const bool granted = count > 0 && grantedQos && grantedQos[0] != 0x80;
    const quint64 generation = manager->m_generation.load();
    dispatch::mainAsync([manager, generation, granted] {
        if (generation != manager->m_generation)
            return;
        manager->m_subscribed = granted;
        // The session is clean: what was announced before this subscription (asleep, offline,
        // the broker away) is never delivered. Pulled once the topic is heard, so nothing falls
        // between the pull and the first message.
        CatchUpManager::sharedInstance().pull();
    });
}

// Main thread.
void MqttManager::connectResult(quint64 generation, int returnCode)
{
    if (generation != m_generation)
        return;
    if (returnCode == 0) {
        m_connected = true;
        subscribe();
        return;
    }
    spdlog::warn("mqtt: the broker refused the connection ({})", mosquitto_connack_string(returnCode));
    m_connected = false;
    m_subscribed = false;
    stopLoop();
    scheduleRetry();
}

void MqttManager::connectionLost(quint64 generation, int reason)
{
    if (generation != m_generation)
        return;
    m_connected = false;
    m_subscribed = false;
    if (reason != 0)
        spdlog::info("mqtt: connection lost ({}); the client reconnects", mosquitto_strerror(reason));
}

void MqttManager::handleMessage(quint64 generation, const QByteArray& topic, const QByteArray& payload)
{
    if (generation != m_generation || !ConfigureManager::sharedInstance().isLogined())
        return;
    m_messages->handle(topic, payload);
    ++m_messagesHandled;
}
