#include "store/historyschema.h"

#include "store/dbfetcher.h"
#include "store/tombstones.h"

#include <QStringList>

#include <spdlog/spdlog.h>

namespace {

const QString kHistory = QStringLiteral("History");

// The thirteen columns of the oldest layout, in table order.
const QStringList& firstThirteenColumns()
{
    static const QStringList columns{
        QStringLiteral("content"),   QStringLiteral("timeStamp"),        QStringLiteral("deviceName"),
        QStringLiteral("file_hash"), QStringLiteral("type"),             QStringLiteral("history_id"),
        QStringLiteral("file_id"),   QStringLiteral("file_ready"),       QStringLiteral("file_name"),
        QStringLiteral("change_timestamp"), QStringLiteral("local_file_ok"), QStringLiteral("file_size"),
        QStringLiteral("secert")};
    return columns;
}

QString createTable(const QString& name, bool full)
{
    if (full)
        return QStringLiteral(
                   "CREATE TABLE %1 (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
                   "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT "
                   "NULL DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER "
                   "NOT NULL DEFAULT 0, local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, "
                   "secert INTEGER NOT NULL DEFAULT 0, category TEXT NOT NULL DEFAULT 'history', favourite INTEGER "
                   "NOT NULL DEFAULT 0, key_hash TEXT DEFAULT NULL, server_time INTEGER NOT NULL DEFAULT 0)")
            .arg(name);
    return QStringLiteral(
               "CREATE TABLE %1 (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
               "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL "
               "DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL "
               "DEFAULT 0, local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert "
               "INTEGER NOT NULL DEFAULT 0);")
        .arg(name);
}

bool run(QSqlDatabase& db, const QString& sql)
{
    QString error;
    const bool ok = DBFetcher::executeUpdate(db, sql, {}, &error);
    if (!ok)
        spdlog::warn("history schema statement failed: {}: {}", sql.toStdString(), error.toStdString());
    return ok;
}

bool indexExists(QSqlDatabase& db)
{
    const auto n = DBFetcher::longForQuery(
        db, QStringLiteral("select count(*) from sqlite_master where type = 'index' and name = ?"),
        {QStringLiteral("History_file_hash_category")});
    return n.value_or(0) > 0;
}

// Beside History, so older builds read History as they always did. Without it a delete the
// service is owed cannot be kept, so such deletes fail; the history itself is still sound.
void createTombstones(QSqlDatabase& db)
{
    if (!Tombstones::createTable(db))
        spdlog::warn("the Tombstone table could not be made; deletes of synced clips will fail");
}

}  // namespace

bool HistorySchema::prepare(QSqlDatabase& db)
{
    if (!DBFetcher::tableExists(db, kHistory)) {
        if (nameTaken(db)) {
            spdlog::error("History is not a table");
            return false;
        }
        run(db, createTable(kHistory, true));
        run(db, QStringLiteral("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);"));
        run(db, QStringLiteral("CREATE INDEX IF NOT EXISTS History_category_timeStamp ON History(category, timeStamp);"));
        createTombstones(db);
        return hasFullLayout(db);
    }
    // Not ours: left as it is, so the file moved aside holds it untouched.
    if (!canBeMigrated(db))
        return false;
    run(db, QStringLiteral("delete FROM History where content is null;"));
    run(db, QStringLiteral("delete FROM History where file_hash is 'd41d8cd98f00b204e9800998ecf8427e';"));
    // VACUUM comes later, through compact(): on a large history it takes longer than the rest
    // of start-up, and nothing here depends on it.
    if (!DBFetcher::columnExists(db, QStringLiteral("secert"), kHistory))
        run(db, QStringLiteral("alter table History add secert INTEGER NOT NULL DEFAULT 0"));
    if (!DBFetcher::columnExists(db, QStringLiteral("category"), kHistory))
        rebuildWithCategory(db);
    if (!DBFetcher::columnExists(db, QStringLiteral("favourite"), kHistory))
        run(db, QStringLiteral("alter table History add favourite INTEGER NOT NULL DEFAULT 0"));
    if (!DBFetcher::columnExists(db, QStringLiteral("key_hash"), kHistory))
        run(db, QStringLiteral("alter table History add key_hash TEXT DEFAULT NULL"));
    // The service's time at which it was last seen holding the clip: what a clear is compared
    // with. Unknown (0) on older rows, so a clear keeps them until a pull lists them.
    if (!DBFetcher::columnExists(db, QStringLiteral("server_time"), kHistory))
        run(db, QStringLiteral("alter table History add server_time INTEGER NOT NULL DEFAULT 0"));
    ensureUniqueIndex(db);
    run(db, QStringLiteral("CREATE INDEX IF NOT EXISTS History_category_timeStamp ON History(category, timeStamp);"));
    createTombstones(db);
    return hasFullLayout(db);
}

namespace {

constexpr qint64 kAutoVacuumIncremental = 2;

bool compactsInSteps(QSqlDatabase& db)
{
    return DBFetcher::longForQuery(db, QStringLiteral("PRAGMA auto_vacuum")).value_or(0) == kAutoVacuumIncremental;
}

qint64 freePages(QSqlDatabase& db)
{
    return DBFetcher::longForQuery(db, QStringLiteral("PRAGMA freelist_count")).value_or(0);
}

}  // namespace

void HistorySchema::compact(QSqlDatabase& db)
{
    if (compactsInSteps(db) || freePages(db) == 0)
        return;
    // Only a VACUUM turns incremental auto-vacuum on for a file that already has tables.
    run(db, QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"));
    run(db, QStringLiteral("VACUUM"));
}

bool HistorySchema::compactStep(QSqlDatabase& db)
{
    if (!compactsInSteps(db) || freePages(db) == 0)
        return false;
    // Every row of the pragma's answer must be read for it to do its work.
    QSqlQuery step = DBFetcher::executeQuery(db, QStringLiteral("PRAGMA incremental_vacuum(%1)").arg(kPagesPerStep));
    while (step.next()) {
    }
    step.finish();
    return freePages(db) > 0;
}

bool HistorySchema::nameTaken(QSqlDatabase& db)
{
    const auto n = DBFetcher::longForQuery(
        db, QStringLiteral("select count(*) from sqlite_master where lower(name) = lower(?)"), {kHistory});
    return n.value_or(0) > 0;
}

bool HistorySchema::canBeMigrated(QSqlDatabase& db)
{
    // The steps add secert, favourite and key_hash; the category rebuild fills every column
    // but content and file_hash with its default. Anything else missing stays missing.
    QStringList required{QStringLiteral("content"), QStringLiteral("file_hash")};
    if (DBFetcher::columnExists(db, QStringLiteral("category"), kHistory)) {
        for (const QString& column : firstThirteenColumns())
            if (column != QLatin1String("secert"))
                required << column;
    }
    for (const QString& column : required) {
        if (!DBFetcher::columnExists(db, column, kHistory)) {
            spdlog::error("History has no column {}; it cannot be brought up to date", column.toStdString());
            return false;
        }
    }
    return true;
}

bool HistorySchema::hasFullLayout(QSqlDatabase& db)
{
    if (!DBFetcher::tableExists(db, kHistory)) {
        spdlog::error("History is not a table");
        return false;
    }
    QStringList columns = firstThirteenColumns();
    columns << QStringLiteral("category") << QStringLiteral("favourite") << QStringLiteral("key_hash");
    for (const QString& column : columns) {
        if (!DBFetcher::columnExists(db, column, kHistory)) {
            spdlog::error("History has no column {}", column.toStdString());
            return false;
        }
    }
    if (!indexExists(db)) {
        spdlog::error("History has no unique index on (file_hash, category)");
        return false;
    }
    return true;
}

void HistorySchema::rebuildWithCategory(QSqlDatabase& db)
{
    // Copy by name, not by position: only the columns the old table really has.
    QStringList columns;
    for (const QString& c : firstThirteenColumns())
        if (DBFetcher::columnExists(db, c, kHistory))
            columns << c;
    const QString list = columns.join(QStringLiteral(", "));
    // Without a category every row becomes "history", so a repeated hash would break the
    // unique index: keep the newest row of each hash.
    const QString copy =
        QStringLiteral("INSERT INTO History2 (%1) SELECT %1 FROM History AS h WHERE NOT EXISTS (SELECT 1 FROM "
                       "History AS o WHERE o.file_hash = h.file_hash AND (ifnull(o.timeStamp, 0) > "
                       "ifnull(h.timeStamp, 0) OR (ifnull(o.timeStamp, 0) = ifnull(h.timeStamp, 0) AND o.rowid > "
                       "h.rowid)));")
            .arg(list);

    if (!db.transaction()) {
        spdlog::warn("history rebuild: no transaction; the table keeps its old layout");
        return;
    }
    // History2 can only be a leftover of an interrupted rebuild: History still holds the rows.
    const bool ok = run(db, QStringLiteral("DROP TABLE IF EXISTS History2;"))
        && run(db, createTable(QStringLiteral("History2"), false))
        && run(db, copy)
        && run(db, QStringLiteral("alter table History2 add category TEXT NOT NULL DEFAULT 'history'"))
        && run(db, QStringLiteral("CREATE UNIQUE INDEX History_file_hash_category ON History2(file_hash, category);"))
        && run(db, QStringLiteral("DROP TABLE History;"))
        && run(db, QStringLiteral("ALTER TABLE History2 RENAME TO History;"));
    if (ok && db.commit())
        return;
    db.rollback();
    spdlog::warn("history rebuild failed and was rolled back; the table keeps its old layout");
}

void HistorySchema::ensureUniqueIndex(QSqlDatabase& db)
{
    if (indexExists(db))
        return;
    if (!db.transaction())
        return;
    const bool ok =
        run(db, QStringLiteral("delete from History where exists (select 1 from History AS o where o.file_hash = "
                               "History.file_hash and o.category = History.category and (ifnull(o.timeStamp, 0) > "
                               "ifnull(History.timeStamp, 0) or (ifnull(o.timeStamp, 0) = ifnull(History.timeStamp, "
                               "0) and o.rowid > History.rowid)));"))
        && run(db, QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS History_file_hash_category ON "
                                  "History(file_hash, category);"));
    if (ok && db.commit())
        return;
    db.rollback();
    spdlog::warn("the unique index of History could not be made");
}
