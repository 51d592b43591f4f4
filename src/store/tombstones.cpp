#include "store/tombstones.h"

#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "store/utils.h"

#include <QDateTime>
#include <QSqlQuery>

#include <spdlog/spdlog.h>

namespace {

// An id is taken over the one stored when it is a real id; 0 keeps what is known.
const QString kUpsert = QStringLiteral(
    "INSERT INTO Tombstone (file_hash, user_id, history_id, deleted_at) VALUES (?, ?, ?, ?) "
    "ON CONFLICT(file_hash, user_id) DO UPDATE SET history_id = CASE WHEN excluded.history_id > 0 "
    "THEN excluded.history_id ELSE Tombstone.history_id END");

bool upsert(QSqlDatabase& db, const QString& fileHash, qint64 historyId, const QString& userId)
{
    return DBFetcher::executeUpdate(db, kUpsert,
                                    {fileHash, userId, historyId, double(QDateTime::currentMSecsSinceEpoch()) / 1000.0});
}

bool update(const QString& sql, const QVariantList& args)
{
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { ok = DBFetcher::executeUpdate(db, sql, args); });
    return ok;
}

}  // namespace

bool Tombstones::createTable(QSqlDatabase& db)
{
    return DBFetcher::executeUpdate(
        db, QStringLiteral("CREATE TABLE IF NOT EXISTS Tombstone (file_hash TEXT NOT NULL, user_id TEXT NOT NULL, "
                           "history_id INTEGER NOT NULL DEFAULT 0, deleted_at REAL NOT NULL DEFAULT 0, "
                           "PRIMARY KEY (file_hash, user_id))"));
}

bool Tombstones::deleteClip(const QString& fileHash, const std::optional<QString>& userId)
{
    if (fileHash.isEmpty())
        return false;
    return HistoryModel::inTransaction([&](QSqlDatabase& db) {
        if (userId && !userId->isEmpty()) {
            QSqlQuery rows = DBFetcher::executeQuery(
                db, QStringLiteral("select history_id, secert, type from History where file_hash = ?"), {fileHash});
            bool any = false;
            bool secret = false;
            bool syncable = false;
            qint64 historyId = 0;
            while (rows.next()) {
                any = true;
                historyId = std::max(historyId, DBFetcher::integerFromValue(rows.value(0)));
                secret = secret || rows.value(1).toBool();
                syncable = syncable || isSyncableType(rows.value(2).toString());
            }
            rows.finish();
            // The service may hold it (an id, or a post that may have reached it without its
            // reply): owed until the service says otherwise.
            if (any && (historyId > 0 || (syncable && !secret)) && !upsert(db, fileHash, historyId, *userId))
                return false;
        }
        return DBFetcher::executeUpdate(db, QStringLiteral("delete from History where file_hash = ?"), {fileHash});
    });
}

bool Tombstones::adoptId(QSqlDatabase& db, const QString& fileHash, qint64 historyId, const QString& userId,
                         bool create)
{
    if (fileHash.isEmpty() || userId.isEmpty() || historyId <= 0)
        return false;
    if (!create && !exists(db, fileHash, userId))
        return false;
    if (create)
        return upsert(db, fileHash, historyId, userId);
    return DBFetcher::executeUpdate(
        db, QStringLiteral("update Tombstone set history_id = ? where file_hash = ? and user_id = ?"),
        {historyId, fileHash, userId});
}

bool Tombstones::adoptId(const QString& fileHash, qint64 historyId, const QString& userId, bool create)
{
    bool adopted = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { adopted = adoptId(db, fileHash, historyId, userId, create); });
    return adopted;
}

bool Tombstones::exists(QSqlDatabase& db, const QString& fileHash, const QString& userId)
{
    const auto n = DBFetcher::longForQuery(
        db, QStringLiteral("select count(*) from Tombstone where file_hash = ? and user_id = ?"), {fileHash, userId});
    return n.value_or(0) > 0;
}

QSet<QString> Tombstones::hashesOf(const QString& userId)
{
    QSet<QString> hashes;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rows =
            DBFetcher::executeQuery(db, QStringLiteral("select file_hash from Tombstone where user_id = ?"), {userId});
        while (rows.next())
            hashes.insert(rows.value(0).toString());
    });
    return hashes;
}

std::optional<Tombstone> Tombstones::nextToSend(const QString& userId, const QStringList& skipping)
{
    std::optional<Tombstone> next;
    if (userId.isEmpty())
        return next;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        const auto back = DBFetcher::longForQuery(
            db, QStringLiteral("select count(*) from Tombstone where user_id = ? and file_hash in (select file_hash from History)"),
            {userId});
        if (back.value_or(0) > 0) {
            spdlog::info("{} tombstone(s) dropped: the clips were copied again", *back);
            DBFetcher::executeUpdate(db,
                                     QStringLiteral("delete from Tombstone where user_id = ? and file_hash in "
                                                    "(select file_hash from History)"),
                                     {userId});
        }
        QSqlQuery rows = DBFetcher::executeQuery(
            db,
            QStringLiteral("select file_hash, history_id from Tombstone where user_id = ? and history_id > 0 "
                           "order by deleted_at desc, rowid desc"),
            {userId});
        while (rows.next()) {
            const QString hash = rows.value(0).toString();
            if (skipping.contains(hash))
                continue;
            next = Tombstone{hash, DBFetcher::integerFromValue(rows.value(1)), userId};
            return;
        }
    });
    return next;
}

bool Tombstones::forget(const QString& fileHash, qint64 historyId, const QString& userId)
{
    return update(QStringLiteral("delete from Tombstone where file_hash = ? and user_id = ? and history_id = ?"),
                  {fileHash, userId, historyId});
}

bool Tombstones::dropId(const QString& fileHash, qint64 historyId, const QString& userId)
{
    return update(
        QStringLiteral("update Tombstone set history_id = 0 where file_hash = ? and user_id = ? and history_id = ?"),
        {fileHash, userId, historyId});
}

bool Tombstones::forgetId(QSqlDatabase& db, qint64 historyId, const QString& userId)
{
    if (historyId <= 0)
        return false;
    return DBFetcher::executeUpdate(db, QStringLiteral("delete from Tombstone where history_id = ? and user_id = ?"),
                                    {historyId, userId});
}

bool Tombstones::forgetId(qint64 historyId, const QString& userId)
{
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { ok = forgetId(db, historyId, userId); });
    return ok;
}

std::vector<Tombstone> Tombstones::owedBy(const QString& userId)
{
    std::vector<Tombstone> list;
    if (userId.isEmpty())
        return list;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rows = DBFetcher::executeQuery(
            db,
            QStringLiteral("select file_hash, history_id from Tombstone where user_id = ? and history_id > 0 and "
                           "file_hash not in (select file_hash from History) order by deleted_at desc, rowid desc"),
            {userId});
        while (rows.next())
            list.push_back({rows.value(0).toString(), DBFetcher::integerFromValue(rows.value(1)), userId});
    });
    return list;
}

bool Tombstones::removeAll()
{
    return update(QStringLiteral("delete from Tombstone"), {});
}

bool Tombstones::removeAllBut(const QString& userId)
{
    return update(QStringLiteral("delete from Tombstone where user_id is not ?"), {userId});
}

std::vector<Tombstone> Tombstones::all()
{
    std::vector<Tombstone> list;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rows = DBFetcher::executeQuery(
            db, QStringLiteral("select file_hash, history_id, user_id from Tombstone order by deleted_at, rowid"));
        while (rows.next())
            list.push_back({rows.value(0).toString(), DBFetcher::integerFromValue(rows.value(1)),
                            rows.value(2).toString()});
    });
    return list;
}
