#include "sync/serverclipstore.h"

#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/configuremanager.h"
#include "store/cliptype.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "store/tombstones.h"
#include "store/utils.h"
#include "sync/replylogin.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStringList>

#include <functional>

#include <spdlog/spdlog.h>

namespace {

bool hasEncModifier(const std::optional<QString>& type)
{
    return ClipType::parse(type).encrypted();
}

// Where the two roads differ, side by side. Everything not named here is the same for both:
// the checks of ServerClip, a stored row taking only what the server owns, a new clip only
// with a history id, body and row written together under the body lock and the login.
//
// What decides whether a new clip needs the key (readContent below):
//   pull:  its key_hash. With one, the content opens only with the current key; with no usable
//          key at all, the clip waits for the pull that comes once there is one. Without one,
//          an "enc" type is never taken as plain text. Nothing readable: no row.
//   fetch: its type. An "enc" type opens only with the current key, or there is no row; any
//          other type is taken as sent, with or without content.
struct RoadRules {
    const char* name;
    // A body is written only from content that is not empty.
    bool bodyNeedsText;
    // Once the row is inserted, its server ids go into every row of the hash (a favourite
    // copy made before the history row came back). The fetch leaves that to its pull.
    bool idsIntoEveryRow;
    // The clip's size is kept: a fetch reply carries it, a pull element does not.
    bool keepsFileSize;
    // A stored row whose post or upload this device still owes keeps its state: the fetch
    // answers a broker hint, and the device's own send is what the service will hold.
    bool leavesOwedRows;
};

constexpr RoadRules kPullRules{
    .name = "pull", .bodyNeedsText = false, .idsIntoEveryRow = true, .keepsFileSize = false, .leavesOwedRows = false};
constexpr RoadRules kFetchRules{
    .name = "mqtt", .bodyNeedsText = true, .idsIntoEveryRow = false, .keepsFileSize = true, .leavesOwedRows = true};

const RoadRules& rulesOf(ServerClipRoad road)
{
    return road == ServerClipRoad::Pull ? kPullRules : kFetchRules;
}

struct Reading {
    bool stored = false;
    std::optional<QString> content;
};

// currentKeyHash: asked once, when first needed, so every clip of one reply meets the same key.
Reading readContent(ServerClipRoad road, const ServerClip& clip,
                    const std::function<std::optional<QString>()>& currentKeyHash, bool* keyMissing)
{
    ZeroManager& zero = ZeroManager::sharedInstance();
    std::optional<QString> content;
    if (road == ServerClipRoad::Pull) {
        if (clip.keyHash) {
            const auto currentKey = currentKeyHash();
            if (!currentKey) {
                if (keyMissing)
                    *keyMissing = true;
                return {};
            }
            if (*clip.keyHash == *currentKey && clip.content)
                content = zero.decryptBase64String(*clip.content);
        } else if (!hasEncModifier(clip.type)) {
            content = clip.content;
        }
        return {content.has_value(), content};
    }

    if (!hasEncModifier(clip.type))
        return {true, clip.content};
    const auto currentKey = currentKeyHash();
    if (!currentKey && keyMissing)
        *keyMissing = true;
    if (clip.keyHash && currentKey && *clip.keyHash == *currentKey && clip.content)
        content = zero.decryptBase64String(*clip.content);
    // Another key, or content that does not open: nothing is stored.
    return {content.has_value(), content};
}

}  // namespace

ServerClipStore::ServerClipStore(ServerClipRoad road)
    : m_road(road)
{
}

HistoryModelPtr ServerClipStore::newRow(const ServerClip& clip, bool* keyMissing) const
{
    const RoadRules& rules = rulesOf(m_road);
    if (!clip.historyId) {
        spdlog::warn("{}: new clip {} without a history_id skipped", rules.name, clip.fileHash.toStdString());
        return nullptr;
    }
    const auto currentKeyHash = [this] {
        if (!m_currentKey)
            m_currentKey = ZeroManager::sharedInstance().currentKeyHash();
        return *m_currentKey;
    };
    const Reading reading = readContent(m_road, clip, currentKeyHash, keyMissing);
    if (!reading.stored)
        return nullptr;
    // A negative favourite is kept: it carries the time of the unfavouring into later merges.
    HistoryModelPtr row = clip.newRow(QString(ClipCategory::History), reading.content);
    if (!rules.keepsFileSize)
        row->setFile_size(QVariant(0.0));  // as a new row has it
    return row;
}

bool ServerClipStore::write(std::vector<ServerClipArrival>& arrivals, quint64 loginEpoch) const
{
    const RoadRules& rules = rulesOf(m_road);
    for (ServerClipArrival& arrival : arrivals) {
        arrival.inserted = false;
        arrival.bodyWritten = false;
    }

    // Asked before the body lock, which comes after the account's lock.
    const QString userId = ConfigureManager::sharedInstance().loginUserId().value_or(QString());
    // Clips deleted here get no body; the rows are checked again inside the change below.
    const QSet<QString> tombstoned = Tombstones::hashesOf(userId);
    // Body and row together, so a delete of the same hash cannot fall between them.
    QMutexLocker bodyLock(&ClipFileManager::bodyLock());
    // The logout purge takes the body lock after the login moved on: checked under it, no
    // body of an ended login is written after the purge.
    if (!ReplyLogin::holds(loginEpoch))
        return false;
    // The bodies this call adds, so an undone change takes them away again.
    QStringList added;
    for (ServerClipArrival& arrival : arrivals) {
        if (!arrival.row || !arrival.row->content() || tombstoned.contains(arrival.server.fileHash))
            continue;
        const QString& content = *arrival.row->content();
        if ((rules.bodyNeedsText && content.isEmpty()) || md5HexOfString(content) != arrival.server.fileHash)
            continue;
        const QString path = PathHelper::getBaseFilePath(arrival.server.fileHash);
        const bool existed = QFileInfo::exists(path);
        ClipFileManager::sharedInstance().saveString(content, arrival.server.fileHash);
        if (!existed && QFileInfo::exists(path))
            added << path;
        arrival.bodyWritten = true;
    }

    const QString history = ClipCategory::History;
    const bool stored = HistoryModel::inTransaction([&](QSqlDatabase& db) {
        for (ServerClipArrival& arrival : arrivals) {
            const QString& hash = arrival.server.fileHash;
            if (rules.leavesOwedRows && DBKeeper::owesService(db, hash))
                continue;
            // Stored already (before the reply, or meanwhile by a capture or another reply):
            // only what the server owns changes.
            if (DBKeeper::applyServerState(db, hash, history, arrival.server.serverState()))
                continue;
            // Deleted here and owed to the service: never brought back; the tombstone takes the
            // id the service holds it under now, so the delete names that clip.
            if (Tombstones::exists(db, hash, userId)) {
                if (arrival.server.historyId)
                    Tombstones::adoptId(db, hash, *arrival.server.historyId, userId, false);
                continue;
            }
            const HistoryModelPtr& row = arrival.row;
            if (!row)
                continue;
            if (!row->save(db))
                return false;
            arrival.inserted = true;
            if (arrival.bodyWritten && !DBKeeper::setLocalFileOkWithHash(db, hash))
                return false;
            if (rules.idsIntoEveryRow && !DBKeeper::updateHistoryID(db, row->history_id(), row->file_id(), hash))
                return false;
        }
        return true;
    });
    if (!stored) {
        for (ServerClipArrival& arrival : arrivals) {
            arrival.inserted = false;
            arrival.bodyWritten = false;
        }
        // Still under the body lock, so nobody else wrote them meanwhile: the folder is
        // left as it was before the call.
        for (const QString& path : std::as_const(added))
            QFile::remove(path);
    }
    return stored;
}
