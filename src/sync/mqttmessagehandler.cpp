#include "sync/mqttmessagehandler.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/catchupmanager.h"
#include "sync/fetchlimiter.h"
#include "sync/uploadtriggers.h"
#include "sync/pushclipsmanager.h"
#include "sync/replylogin.h"
#include "sync/serverclip.h"
#include "sync/serverclipstore.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <spdlog/spdlog.h>

#include <limits>
#include <vector>

namespace {

const QString kProtocolDelete = QStringLiteral("history_delete");
const QString kProtocolClear = QStringLiteral("history_clear");
const QString kProtocolUpload = QStringLiteral("history_upload_file");

// The fetch of a clip the server no longer has answers this code.
constexpr qint64 kCodeNoSuchClip = -10;

// A server id: a JSON integer (or decimal text) above 0; never a boolean or a fraction.
std::optional<qint64> positiveId(const QVariant& value)
{
    return NumberReader::idOrTime(value, 1, std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
}

// The stored history row of the hash, loaded; null when there is none.
HistoryModelPtr storedHistoryClip(const QString& hash)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(QString(ClipCategory::History));
    if (!clip->isExist())
        return nullptr;
    clip->fetch();
    return clip;
}

}  // namespace

MqttMessageHandler::MqttMessageHandler()
{
    // Hints folded into a pull share the one pull the catch-up runs.
    m_fetches = std::make_unique<FetchLimiter>([](FetchLimiter::Done done) {
        CatchUpManager::sharedInstance().pull([done] { done(); });
    });
}

MqttMessageHandler::~MqttMessageHandler() = default;

bool MqttMessageHandler::isSettled() const
{
    return m_fetches->isIdle();
}

void MqttMessageHandler::reset()
{
    m_fetching.clear();
    m_deletedWhileFetching.clear();
    m_deleteAnnouncedWhileFetching.clear();
    m_fetches->reset();
}

void MqttMessageHandler::handle(const QByteArray& topic, const QByteArray& payload)
{
    // Every message, whatever it says, is a chance to send what is still pending.
    struct WakeWorkers {
        ~WakeWorkers() { UploadTriggers::wakeAll(); }
    } wake;
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

void MqttMessageHandler::historyDelete(const QJsonObject& data)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    if (!isValidFileHash(hash)) {
        spdlog::warn("mqtt: history_delete with a bad file_hash dropped");
        return;
    }
    const HistoryModelPtr clip = storedHistoryClip(hash);
    if (!clip) {
        // A fetch on its way may have been answered before the delete: checked once it is stored.
        if (m_fetching.contains(hash))
            m_deleteAnnouncedWhileFetching.insert(hash, data);
        return;
    }
    // Only the server can say the clip is gone, and it knows the clip by its id.
    const auto historyId = positiveId(clip->history_id());
    if (!historyId || DBKeeper::owesService(hash)) {
        spdlog::info("mqtt: history_delete for a clip whose post or upload is still owed; kept");
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

void MqttMessageHandler::deleteIfGone(const QString& fileHash, qint64 historyId, const QJsonValue& keyHash,
                                      quint64 epoch, const QVariant& result, const std::optional<RequestError>& error)
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
    // The stored row knows the file name of the clip's preview link.
    const HistoryModelPtr clip = storedHistoryClip(fileHash);
    if (!clip)
        return;
    // The answer was about this id; a row that took another one meanwhile stays. One the
    // server disowned meanwhile (its id cleared when a body upload found the clip gone) goes.
    const qint64 idNow = positiveId(clip->history_id()).value_or(0);
    if (idNow != historyId && idNow != 0)
        return;
    // Changed here since (a copy again, a favourite): the change goes to the service first,
    // which then answers for it.
    if ((idNow == historyId && DBKeeper::owesService(fileHash))
        || (idNow == 0 && clip->change_timestamp().toDouble() > 0)) {
        spdlog::info("mqtt: history_delete of {} meets a change still owed; kept", fileHash.toStdString());
        return;
    }
    if (keyHash.isString())
        clip->setKey_hash(keyHash.toString());
    clip->del();
    // A fetch of the clip still on its way must not bring it back.
    if (m_fetching.contains(fileHash))
        m_deletedWhileFetching.insert(fileHash);
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete, QVariant::fromValue(clip));
}

void MqttMessageHandler::historyClear(const QJsonObject& data)
{
    const auto timestamp = NumberReader::idOrTime(data.value(QStringLiteral("timestamp")).toVariant(), 0);
    if (!timestamp) {
        spdlog::warn("mqtt: history_clear without a usable timestamp dropped");
        return;
    }
    // The time in the message is not trusted: the pull brings the server's own clearing time.
    m_fetches->pull();
}

void MqttMessageHandler::historyUploadFile(const QJsonObject& data)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    const auto historyId = positiveId(data.value(QStringLiteral("history_id")).toVariant());
    const QJsonValue fileIdValue = data.value(QStringLiteral("file_id"));
    const auto fileId = positiveId(fileIdValue.toVariant());
    if (!isValidFileHash(hash) || !historyId || (!fileIdValue.isUndefined() && !fileIdValue.isNull() && !fileId)) {
        spdlog::warn("mqtt: history_upload_file with a bad hash or id dropped");
        return;
    }
    // Any client of the broker can send this, with any ids and without a device token: a row
    // whose post or body this device still owes is left to its own upload, and anything else
    // changes only by what the service answers to the fetch.
    if (DBKeeper::owesService(hash)) {
        spdlog::info("mqtt: history_upload_file for a clip whose post or upload is still owed here; left alone");
        return;
    }
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(QString(ClipCategory::History));
    clip->setHistory_id(QVariant(*historyId));
    if (Utils::isAutoSetPasteboard())
        ConfigureManager::sharedInstance().setIncommingHash(hash);

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

void MqttMessageHandler::fetchCompletion(const QString& fileHash, quint64 epoch, const QVariant& result,
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

    // A stored row takes what the service answered (its ids, its body state); a new one is
    // inserted when this key can read it.
    const ServerClipStore store(ServerClipRoad::Fetch);
    std::vector<ServerClipArrival> arrival{{*server, store.newRow(*server)}};
    const bool readable = bool(arrival.front().row);
    if (!store.write(arrival, epoch) && !ReplyLogin::holds(epoch))
        return;
    if (arrival.front().inserted && arrival.front().bodyWritten)
        NotificationCenter::defaultCenter().postOnMain(NotificationName::FileDownloadDone,
                                                       QVariant::fromValue(arrival.front().row));
    if (!announcedDelete.isEmpty())
        historyDelete(announcedDelete);
    if (!readable)
        spdlog::info("mqtt: fetched clip {} is not readable with this key; no new row", fileHash.toStdString());
    NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    UploadTriggers::wakeAll();
}
