#include "sync/pullclipmanager.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "store/tombstones.h"
#include "sync/clearcheck.h"
#include "sync/historyservice.h"
#include "sync/uploadtriggers.h"
#include "sync/replylogin.h"
#include "sync/replyverdict.h"
#include "sync/serverclip.h"
#include "sync/serverclipstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QHash>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <limits>
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
    // A reply to a login that ended speaks for no account: its key fingerprint is not read.
    if (ReplyVerdict::endLoginIfSaid(reply, sentUserToken()))
        return {};
    ZeroManager::sharedInstance().checkServerCipher(reply.value(u"cipher").toVariant());
    if (NumberReader::jsonIntegerOrZero(reply.value(u"code").toVariant()) != 0)
        return {};

    // The clear first: a clip the same reply lists was changed on the service after it, and
    // the merge below records that.
    const bool cleared = reply.contains(u"clear_all_ts") && applyClearTime(reply.value(u"clear_all_ts"));
    const auto requestTime = NumberReader::idOrTime(reply.value(u"request_timestamp").toVariant(), 0,
                                                    std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
    bool keyMissing = false;
    const bool merged = mergeHistories(reply.value(u"histories").toArray(), requestTime.value_or(0), &keyMissing);
    applyActions(reply.value(u"action"));
    // Held rows the reply did not list and whose server time is unknown (posted or fetched
    // since the last pull): the service is asked about each.
    if (cleared)
        ClearCheck::confirm(DBKeeper::heldAtAnUnknownTime(), sentLoginEpoch());

    // Only after the merge, so a pull cut short repeats its window.
    if (!merged)
        spdlog::warn("pull: the clips could not be stored; the bookmark stays");
    else if (keyMissing)
        spdlog::info("pull: clips of the account's key came without a usable key; the bookmark stays");
    else if (requestTime.value_or(0) != 0 && ReplyLogin::holds(sentLoginEpoch()))
        UserDefaults::standard().setValue(DefaultsKey::LastPullRequestTime, QString::number(*requestTime));

    cleanUp();
    return reply.toVariantMap();
}

bool PullClipManager::mergeHistories(const QJsonArray& histories, qint64 serverTime, bool* keyMissing)
{
    std::vector<ServerClipArrival> arrivals;
    arrivals.reserve(size_t(histories.size()));
    for (const QJsonValue& element : histories) {
        QString reason;
        if (auto clip = ServerClip::fromJson(element, &reason))
            arrivals.push_back({std::move(*clip), nullptr});
        else
            spdlog::warn("pull: element skipped ({})", reason.toStdString());
    }
    if (arrivals.empty())
        return true;

    QHash<QString, qint64> storedTimes;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rows = DBFetcher::executeQuery(
            db, QStringLiteral("select file_hash, timeStamp from History where category = 'history'"));
        while (rows.next())
            storedTimes.insert(rows.value(0).toString(), rows.value(1).toLongLong());
        rows.finish();
    });

    // New clips whose content this key can read, made before the database is entered.
    const ServerClipStore store(ServerClipRoad::Pull);
    for (ServerClipArrival& arrival : arrivals) {
        if (!storedTimes.contains(arrival.server.fileHash))
            arrival.row = store.newRow(arrival.server, keyMissing);
    }
    dropWhatTheCleanUpRemoves(arrivals, storedTimes);
    if (!store.write(arrivals, sentLoginEpoch()))
        return false;
    // The service held each listed clip, under the id it named, at the reply's time: what a
    // later clear is compared with.
    HistoryModel::inTransaction([&](QSqlDatabase& db) {
        for (const ServerClipArrival& arrival : arrivals) {
            if (arrival.server.historyId
                && !DBKeeper::noteServerTime(db, arrival.server.fileHash, *arrival.server.historyId, serverTime))
                return false;
        }
        return true;
    });
    return true;
}

void PullClipManager::dropWhatTheCleanUpRemoves(std::vector<ServerClipArrival>& arrivals,
                                                QHash<QString, qint64> times)
{
    // The times the history will hold once the merge is stored.
    for (const ServerClipArrival& arrival : arrivals) {
        const qint64 server = arrival.server.timestamp.value_or(0);
        if (const auto stored = times.find(arrival.server.fileHash); stored != times.end())
            *stored = std::max(*stored, server);
        else if (arrival.row)
            times.insert(arrival.server.fileHash, server);
    }
    if (times.size() <= kKeptHistory)
        return;
    std::vector<qint64> sorted(times.cbegin(), times.cend());
    std::nth_element(sorted.begin(), sorted.begin() + (kKeptHistory - 1), sorted.end(), std::greater<>());
    const qint64 cutoff = sorted[kKeptHistory - 1];
    // The clean-up would remove these rows (and their bodies) again at once: never write them.
    for (ServerClipArrival& arrival : arrivals) {
        if (arrival.row && arrival.server.timestamp.value_or(0) < cutoff)
            arrival.row.reset();
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
        // The service deleted it: a delete this device owed it is done.
        Tombstones::forgetId(*id, ConfigureManager::sharedInstance().loginUserId().value_or(QString()));
    }
}

bool PullClipManager::applyClearTime(const QJsonValue& time)
{
    // The service's clock on both sides of the comparison (DBKeeper::clearHistoryLessThan):
    // this device's clock plays no part, so clocks set apart clear nothing the service kept.
    const auto before = NumberReader::idOrTime(time.toVariant(), 1);
    if (!before)
        spdlog::warn("pull: clear_all_ts is not a whole number; nothing cleared");
    else
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::clearHistoryLessThan(QVariant(*before)));
    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete);
    return before.has_value();
}

void PullClipManager::cleanUp()
{
    ClipFileManager& files = ClipFileManager::sharedInstance();
    files.deleteFilesWithHistoryArray(DBKeeper::cleanupDatabase(QString(ClipCategory::History)));
    files.deleteFilesWithHistoryArray(DBKeeper::removeInvalidDatas());
    UploadTriggers::wakeAll();
}
