#include "sync/mqttmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/catchupmanager.h"
#include "sync/fetchlimiter.h"
#include "sync/historyservice.h"
#include "sync/pullclipmanager.h"
#include "sync/pushclipsmanager.h"
#include "sync/replylogin.h"
#include "sync/serverclip.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QRegularExpression>
#include <QTimer>

#include <mosquitto.h>
#include <spdlog/spdlog.h>

#include <mutex>

namespace {

// The broker's fixed password for every client.
constexpr const char* kPassword = "4d2c9e17";

const QString kProtocolDelete = QStringLiteral("history_delete");
const QString kProtocolClear = QStringLiteral("history_clear");
const QString kProtocolUpload = QStringLiteral("history_upload_file");

// The fetch of a clip the server no longer has answers this code.
constexpr qint64 kCodeNoSuchClip = -10;

bool isFileHash(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(text).hasMatch();
}

// A server id: a JSON integer (or numeric text) above 0.
std::optional<qint64> positiveId(const QJsonValue& value)
{
    return NumberReader::wholeNumber(value.toVariant(), 1);
}

void ensureLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttManager& MqttManager::sharedInstance()
{
    // Never destroyed: its queue's thread cannot be joined once the application object is
    // gone, and the process's end takes the connection down anyway.
    static MqttManager* instance = new MqttManager;
    return *instance;
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
    // Hints folded into a pull share the one pull the catch-up runs.
    m_fetches = std::make_unique<FetchLimiter>([](FetchLimiter::Done done) {
        CatchUpManager::sharedInstance().pull([done] { done(); });
    });
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
    return m_fetches->isIdle();
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
    m_fetching.clear();
    m_deletedWhileFetching.clear();
    m_deleteAnnouncedWhileFetching.clear();
    m_fetches->reset();
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
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (!document.isObject()) {
        spdlog::warn("mqtt: a message on {} that is not a JSON object dropped", topic.toStdString());
        return;
    }
    const QJsonObject object = document.object();
    const QString protocol = object.value(QStringLiteral("protocol")).toString();
    const QJsonObject data = object.value(QStringLiteral("data")).toObject();

    const QString* matched = nullptr;
    for (const QString* name : {&kProtocolDelete, &kProtocolClear, &kProtocolUpload}) {
        if (protocol.startsWith(*name)) {
            matched = name;
            break;
        }
    }
    if (!matched)
        return;
    // This device's own changes come back to it.
    if (data.value(QStringLiteral("device_token")).toString() == currentDeviceToken())
        return;
    if (matched == &kProtocolDelete)
        historyDelete(data);
    else if (matched == &kProtocolClear)
        historyClear(data);
    else
        historyUploadFile(data);
}

void MqttManager::historyDelete(const QJsonObject& data)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    if (!isFileHash(hash)) {
        spdlog::warn("mqtt: history_delete with a bad file_hash dropped");
        return;
    }
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(QString(ClipCategory::History));
    if (!clip->isExist()) {
        // A fetch on its way may have been answered before the delete: checked once it is stored.
        if (m_fetching.contains(hash))
            m_deleteAnnouncedWhileFetching.insert(hash, data);
        return;
    }
    clip->fetch();
    // Only the server can say the clip is gone, and it knows the clip by its id.
    const auto historyId = NumberReader::wholeNumber(clip->history_id(), 1);
    if (!historyId) {
        spdlog::info("mqtt: history_delete for a clip the server never had; kept");
        return;
    }
    const QJsonValue keyHash = data.value(QStringLiteral("key_hash"));
    m_fetches->fetch(kProtocolDelete + hash, [this, clip, hash, id = *historyId, keyHash](FetchLimiter::Done done) {
        const quint64 epoch = ReplyLogin::current();
        PushClipsManager::sharedInstance().Get(
            clip, [this, hash, id, keyHash, epoch, done](const QVariant& result, const std::optional<RequestError>& error) {
                deleteIfGone(hash, id, keyHash, epoch, result, error);
                done();
            });
    });
}

void MqttManager::deleteIfGone(const QString& fileHash, qint64 historyId, const QJsonValue& keyHash, quint64 epoch,
                               const QVariant& result, const std::optional<RequestError>& error)
{
    // The answer of an ended login deletes nothing.
    ReplyLogin::Scope scope(epoch);
    if (!ReplyLogin::holds(epoch))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(result.toByteArray());
    if (error || !document.isObject()) {
        // No answer: a pull's list of deletions can still confirm it.
        spdlog::info("mqtt: history_delete of {} could not be checked; a pull will", fileHash.toStdString());
        m_fetches->pull();
        return;
    }
    if (NumberReader::jsonInteger(document.object().value(QStringLiteral("code")).toVariant()) != kCodeNoSuchClip) {
        spdlog::info("mqtt: history_delete of {} not confirmed by the server; kept", fileHash.toStdString());
        return;
    }
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(fileHash);
    clip->setCategory(QString(ClipCategory::History));
    if (!clip->isExist())
        return;
    // The stored row knows the file name of the clip's preview link.
    clip->fetch();
    // The answer was about this id; a row that took another one meanwhile stays. One the
    // server disowned meanwhile (its id cleared when a body upload found the clip gone) goes.
    const qint64 idNow = NumberReader::wholeNumber(clip->history_id()).value_or(0);
    if (idNow != historyId && idNow != 0)
        return;
    if (keyHash.isString())
        clip->setKey_hash(keyHash.toString());
    clip->del();
    // A fetch of the clip still on its way must not bring it back.
    if (m_fetching.contains(fileHash))
        m_deletedWhileFetching.insert(fileHash);
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete, QVariant::fromValue(clip));
}

void MqttManager::historyClear(const QJsonObject& data)
{
    const auto timestamp = NumberReader::wholeNumber(data.value(QStringLiteral("timestamp")).toVariant(), 0);
    if (!timestamp) {
        spdlog::warn("mqtt: history_clear without a usable timestamp dropped");
        return;
    }
    // The time in the message is not trusted: the pull brings the server's own clearing time.
    m_fetches->pull();
}

void MqttManager::historyUploadFile(const QJsonObject& data)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    const auto historyId = positiveId(data.value(QStringLiteral("history_id")));
    const QJsonValue fileIdValue = data.value(QStringLiteral("file_id"));
    const auto fileId = positiveId(fileIdValue);
    if (!isFileHash(hash) || !historyId || (!fileIdValue.isUndefined() && !fileIdValue.isNull() && !fileId)) {
        spdlog::warn("mqtt: history_upload_file with a bad hash or id dropped");
        return;
    }
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(QString(ClipCategory::History));
    clip->setHistory_id(QVariant(*historyId));
    if (Utils::isAutoSetPasteboard())
        ConfigureManager::sharedInstance().setIncommingHash(hash);

    // Known here: its body is on the server now; ids only where it has none. One targeted
    // change, only while the row exists.
    if (DBKeeper::setRemoteReadyFromPush(hash, QVariant(*historyId), fileId ? QVariant(*fileId) : QVariant())) {
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
        HistoryService::sharedInstance().process();
        return;
    }
    // Keyed by the id too, so that a message naming a wrong id cannot hold back the right one.
    const QString key = kProtocolUpload + hash + QLatin1Char('/') + QString::number(*historyId);
    m_fetches->fetch(key, [this, clip, hash](FetchLimiter::Done done) {
        if (m_fetching.value(hash) == 0)
            m_deletedWhileFetching.remove(hash);
        ++m_fetching[hash];
        const quint64 epoch = ReplyLogin::current();
        PushClipsManager::sharedInstance().Get(
            clip, [this, hash, epoch, done](const QVariant& result, const std::optional<RequestError>& error) {
                fetchCompletion(hash, epoch, result, error);
                done();
            });
    });
}

void MqttManager::fetchCompletion(const QString& fileHash, quint64 epoch, const QVariant& result,
                                  const std::optional<RequestError>& error)
{
    // Fetches of one hash under two ids may overlap: the delete mark lasts until the last ends.
    const bool deletedMeanwhile = m_deletedWhileFetching.contains(fileHash);
    const QJsonObject announcedDelete = m_deleteAnnouncedWhileFetching.value(fileHash);
    if (--m_fetching[fileHash] <= 0) {
        m_fetching.remove(fileHash);
        m_deletedWhileFetching.remove(fileHash);
        m_deleteAnnouncedWhileFetching.remove(fileHash);
    }
    // Deleted by another device while the fetch was on its way: stays deleted.
    if (deletedMeanwhile) {
        spdlog::info("mqtt: fetched clip {} was deleted meanwhile; not stored", fileHash.toStdString());
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
        return;
    }
    // A fetch of an ended login stores nothing.
    ReplyLogin::Scope scope(epoch);
    if (error || !result.isValid() || !ReplyLogin::holds(epoch))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(result.toByteArray());
    if (!document.isObject())
        return;
    const QJsonObject reply = document.object();
    if (NumberReader::jsonInteger(reply.value(QStringLiteral("code")).toVariant()) != 0)
        return;
    QString reason;
    const auto server = ServerClip::fromJson(reply.value(QStringLiteral("history")), &reason);
    // Only the clip that was asked for, and only in a shape the store accepts.
    if (!server || server->fileHash != fileHash || !server->historyId) {
        spdlog::warn("mqtt: fetched clip {} refused ({})", fileHash.toStdString(), reason.toStdString());
        return;
    }

    std::optional<QString> content = server->content;
    bool store = true;
    if (ClipType::parse(server->type).encrypted()) {
        ZeroManager& zero = ZeroManager::sharedInstance();
        const auto currentKey = zero.currentKeyHash();
        content.reset();
        if (server->keyHash && currentKey && *server->keyHash == *currentKey && server->content)
            content = zero.decryptBase64String(*server->content);
        // Another key, or content that does not open: nothing is stored.
        store = content.has_value();
    }

    if (store) {
        const HistoryModelPtr clip = server->newRow(QString(ClipCategory::History), content);
        const bool bodyMatches = content && !content->isEmpty() && md5HexOfString(*content) == fileHash;
        bool inserted = false;
        {
            // Body and row together, so a delete of the same hash cannot fall between them.
            QMutexLocker bodyLock(&ClipFileManager::bodyLock());
            if (!ReplyLogin::holds(epoch))
                return;
            if (bodyMatches)
                ClipFileManager::sharedInstance().saveString(*content, fileHash);
            HistoryModel::inTransaction([&](QSqlDatabase& db) {
                // Stored meanwhile (a pull, a capture): only what the server owns changes.
                if (DBKeeper::applyServerState(db, fileHash, QString(ClipCategory::History), server->serverState()))
                    return true;
                inserted = clip->save(db);
                return inserted && (!bodyMatches || DBKeeper::setLocalFileOkWithHash(db, fileHash));
            });
        }
        if (bodyMatches && inserted)
            NotificationCenter::defaultCenter().postOnMain(NotificationName::FileDownloadDone,
                                                           QVariant::fromValue(clip));
        if (!announcedDelete.isEmpty())
            historyDelete(announcedDelete);
    } else {
        spdlog::info("mqtt: fetched clip {} is not readable with this key; not stored", fileHash.toStdString());
    }
    NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    HistoryService::sharedInstance().process();
}
