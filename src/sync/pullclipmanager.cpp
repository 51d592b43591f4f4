#include "sync/pullclipmanager.h"

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
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/historyservice.h"
#include "sync/replylogin.h"
#include "sync/serverclip.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QHash>
#include <QMutexLocker>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <vector>

#include <spdlog/spdlog.h>

namespace {

// The clean-up keeps the newest this many history clips.
constexpr qsizetype kKeptHistory = 60;

}  // namespace

PullClipManager::PullClipManager()
{
    // A stored bookmark that is not a whole number starts the window again.
    const auto stored = NumberReader::wholeNumber(UserDefaults::standard().value(DefaultsKey::LastPullRequestTime), 0);
    last_request_timestamp = QString::number(stored.value_or(0));
}

QString PullClipManager::methodURL() const
{
    return baseURL() + QStringLiteral("/pull/");
}

QString PullClipManager::combinURL() const
{
    QString url = RequestManager::combinURL() + tokenParameter() + QStringLiteral("&last_request_timestamp=")
        + last_request_timestamp;
    if (limitCount != 0)
        url += QStringLiteral("&count=") + QString::number(limitCount);
    return percentEscape(url);
}

bool PullClipManager::isContinueRequest() const
{
    return ConfigureManager::sharedInstance().isLogined() && ZeroManager::sharedInstance().state() != 0;
}

QVariant PullClipManager::parse(const QByteArray& data)
{
    // Checked again inside every block that writes, so a logout during the merge stops it.
    ReplyLogin::Scope scope(sentLoginEpoch());
    if (!ReplyLogin::holds(sentLoginEpoch()) || !isSameLoginAsSent()) {
        spdlog::info("pull: the reply belongs to another login; nothing merged");
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject()) {
        cleanUp();
        return {};
    }
    const QJsonObject reply = doc.object();
    ZeroManager::sharedInstance().checkServerCipher(reply.value(u"cipher").toVariant());
    if (NumberReader::jsonIntegerOrZero(reply.value(u"code").toVariant()) != 0)
        return {};

    bool keyMissing = false;
    const bool merged = mergeHistories(reply.value(u"histories").toArray(), &keyMissing);
    applyActions(reply.value(u"action"));
    if (reply.contains(u"clear_all_ts"))
        applyClearTime(reply.value(u"clear_all_ts"));

    // Only after the merge, so a pull cut short repeats its window.
    const auto requestTime = NumberReader::wholeNumber(reply.value(u"request_timestamp").toVariant(), 0);
    if (!merged)
        spdlog::warn("pull: the clips could not be stored; the bookmark stays");
    else if (keyMissing)
        spdlog::info("pull: clips of the account's key came without a usable key; the bookmark stays");
    else if (requestTime.value_or(0) != 0 && ReplyLogin::holds(sentLoginEpoch()))
        UserDefaults::standard().setValue(DefaultsKey::LastPullRequestTime, QString::number(*requestTime));

    cleanUp();
    return reply.toVariantMap();
}

bool PullClipManager::mergeHistories(const QJsonArray& histories, bool* keyMissing)
{
    std::vector<ServerClip> clips;
    clips.reserve(size_t(histories.size()));
    for (const QJsonValue& element : histories) {
        QString reason;
        if (auto clip = ServerClip::fromJson(element, &reason))
            clips.push_back(std::move(*clip));
        else
            spdlog::warn("pull: element skipped ({})", reason.toStdString());
    }
    if (clips.empty())
        return true;

    const QString history = ClipCategory::History;
    std::vector<bool> exists(clips.size(), false);
    QHash<QString, qint64> storedTimes;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rows = DBFetcher::executeQuery(
            db, QStringLiteral("select file_hash, timeStamp from History where category = 'history'"));
        while (rows.next())
            storedTimes.insert(rows.value(0).toString(), rows.value(1).toLongLong());
        rows.finish();
    });
    for (size_t i = 0; i < clips.size(); ++i)
        exists[i] = storedTimes.contains(clips[i].fileHash);

    // New clips whose content this key can read, made before the database is entered.
    std::vector<HistoryModelPtr> fresh(clips.size());
    ZeroManager& zero = ZeroManager::sharedInstance();
    const auto currentKey = zero.currentKeyHash();
    for (size_t i = 0; i < clips.size(); ++i) {
        const ServerClip& server = clips[i];
        if (exists[i])
            continue;
        if (!server.historyId) {
            spdlog::warn("pull: new element {} without a history_id skipped", server.fileHash.toStdString());
            continue;
        }
        std::optional<QString> content;
        if (server.keyHash) {
            if (!currentKey) {
                *keyMissing = true;
                continue;
            }
            if (*server.keyHash == *currentKey && server.content)
                content = zero.decryptBase64String(*server.content);
        } else if (!ClipType::parse(server.type).encrypted()) {
            content = server.content;
        }
        if (!content)
            continue;
        auto clip = std::make_shared<HistoryModel>();
        const DBKeeper::ServerState state = server.serverState();
        clip->setFile_hash(server.fileHash);
        clip->setTimestamp(state.timestamp);
        if (server.type)
            clip->setType(server.type);
        clip->setFile_ready(state.fileReady);
        clip->setFile_id(state.fileId);
        clip->setHistory_id(state.historyId);
        if (server.deviceName)
            clip->setDevice_name(server.deviceName);
        // A negative value keeps the time of the unfavouring for later merges.
        if (server.favourite)
            clip->setFavourite(QVariant(*server.favourite));
        if (server.fileName && !server.fileName->isEmpty())
            clip->setFile_name(server.fileName);
        clip->setKey_hash(server.keyHash);
        clip->setContent(content);
        fresh[i] = std::move(clip);
    }

    dropWhatTheCleanUpRemoves(clips, storedTimes, fresh);

    // Bodies first, then every row in one change, with no delete of the same hashes between.
    QMutexLocker bodyLock(&ClipFileManager::bodyLock());
    // The logout purge takes the body lock after the login moved on: checked under it, no
    // body of an ended login is written after the purge.
    if (!ReplyLogin::holds(sentLoginEpoch()))
        return false;
    std::vector<bool> bodyWritten(clips.size(), false);
    for (size_t i = 0; i < clips.size(); ++i) {
        if (fresh[i] && md5HexOfString(*fresh[i]->content()) == clips[i].fileHash) {
            ClipFileManager::sharedInstance().saveString(*fresh[i]->content(), clips[i].fileHash);
            bodyWritten[i] = true;
        }
    }
    return HistoryModel::inTransaction([&](QSqlDatabase& db) {
        for (size_t i = 0; i < clips.size(); ++i) {
            if (exists[i]) {
                DBKeeper::applyServerState(db, clips[i].fileHash, history, clips[i].serverState());
                continue;
            }
            const HistoryModelPtr& clip = fresh[i];
            if (!clip)
                continue;
            if (!clip->save(db))
                return false;
            if (bodyWritten[i] && !DBKeeper::setLocalFileOkWithHash(db, clip->file_hash()))
                return false;
            if (!DBKeeper::updateHistoryID(db, clip->history_id(), clip->file_id(), clip->file_hash()))
                return false;
        }
        return true;
    });
}

void PullClipManager::dropWhatTheCleanUpRemoves(const std::vector<ServerClip>& clips,
                                                QHash<QString, qint64> times, std::vector<HistoryModelPtr>& fresh)
{
    // The times the history will hold once the merge is stored.
    for (size_t i = 0; i < clips.size(); ++i) {
        const qint64 server = clips[i].timestamp.value_or(0);
        if (const auto stored = times.find(clips[i].fileHash); stored != times.end())
            *stored = std::max(*stored, server);
        else if (fresh[i])
            times.insert(clips[i].fileHash, server);
    }
    if (times.size() <= kKeptHistory)
        return;
    std::vector<qint64> sorted(times.cbegin(), times.cend());
    std::nth_element(sorted.begin(), sorted.begin() + (kKeptHistory - 1), sorted.end(), std::greater<>());
    const qint64 cutoff = sorted[kKeptHistory - 1];
    // The clean-up would remove these rows (and their bodies) again at once: never write them.
    for (size_t i = 0; i < clips.size(); ++i) {
        if (fresh[i] && clips[i].timestamp.value_or(0) < cutoff)
            fresh[i].reset();
    }
}

void PullClipManager::applyActions(const QJsonValue& actions)
{
    for (const QJsonValue& entry : actions.toArray()) {
        const QJsonObject action = entry.toObject();
        if (action.value(u"action").toString().toLower() != u"del")
            continue;
        const auto id = NumberReader::jsonInteger(action.value(u"history_id").toVariant());
        if (!id || *id <= 0) {
            spdlog::warn("pull: delete action without a valid history_id skipped");
            continue;
        }
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::deleteHistoryWithId(QVariant(*id)));
    }
}

void PullClipManager::applyClearTime(const QJsonValue& time)
{
    const auto before = NumberReader::realNumber(time.toVariant());
    if (!before || time.isBool()) {
        spdlog::warn("pull: clear_all_ts is not a number; nothing cleared");
        return;
    }
    // Nothing is cleared that is newer than now, whatever time the reply names.
    const double now = double(QDateTime::currentSecsSinceEpoch());
    const double until = std::min(*before, now);
    if (*before > now)
        spdlog::warn("pull: clear_all_ts lies in the future; cleared up to now");
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::clearHistoryLessThan(QVariant(until)));
    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete);
}

void PullClipManager::cleanUp()
{
    ClipFileManager& files = ClipFileManager::sharedInstance();
    files.deleteFilesWithHistoryArray(DBKeeper::cleanupDatabase(QString(ClipCategory::History)));
    files.deleteFilesWithHistoryArray(DBKeeper::removeInvalidDatas());
    HistoryService::sharedInstance().process();
}
