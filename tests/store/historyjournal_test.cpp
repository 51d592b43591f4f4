// The history file's journal, transactions, list index, foreign layouts and a file locked by
// another process at start.

#include "historytestsupport.h"

#include "platform/fake/usernotificationsfake.h"
#include "store/clipbodylimit.h"
#include "store/dbkeeper.h"
#include "store/historymodel.h"
#include "store/historyschema.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace historytest;
using namespace std::chrono_literals;

namespace {

// Every column of History, in table order.
const QStringList kColumns{
    "content",       "timeStamp",  "deviceName", "file_hash", "type",     "history_id", "file_id", "file_ready",
    "file_name",     "change_timestamp", "local_file_ok", "file_size", "secert", "category", "favourite", "key_hash",
    "server_time"};

const char* kFullTable =
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0, "
    "category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0, key_hash TEXT DEFAULT NULL)";

const char* kThirteenColumns =
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0)";

// The database files moved aside (their -wal and -shm go with them).
QStringList asideCopies()
{
    return QDir(libraryDir())
        .entryList({QStringLiteral("clipDB.sqlite.corrupt-*")}, QDir::Files, QDir::Name)
        .filter(QRegularExpression(QStringLiteral("^clipDB\\.sqlite\\.corrupt-\\d+$")));
}

QString planOf(RawDb& raw, const QString& sql, const QVariantList& args)
{
    QStringList steps;
    for (const auto& row : raw.rows(QStringLiteral("explain query plan ") + sql, args))
        steps << row.value(3).toString();
    return steps.join(QStringLiteral(" | "));
}

class HistoryJournalTest : public HistoryDbTest {
protected:
    void TearDown() override
    {
        HistoryDbTest::TearDown();
        DBFetcher::setTiming(DBFetcher::Timing{});
        UserNotifications::setCurrent(nullptr);
    }
};

}  // namespace

TEST_F(HistoryJournalTest, TheHistoryIsKeptInWriteAheadLogModeWithFullSync)
{
    savedClip(1);
    RawDb raw(dbPath());
    EXPECT_EQ(raw.scalar("pragma journal_mode").toString(), "wal");
    qint64 synchronous = -1;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        synchronous = DBFetcher::longForQuery(db, QStringLiteral("pragma synchronous")).value_or(-1);
    });
    EXPECT_EQ(synchronous, 2) << "FULL";
    // The mode is the file's own: a start on it keeps it.
    DBFetcher::resetSharedInstance();
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(1)});
    EXPECT_EQ(raw.scalar("pragma journal_mode").toString(), "wal");
}

TEST_F(HistoryJournalTest, WhereWriteAheadLoggingCannotBeUsedTheModeStaysAndIsLogged)
{
    LogCapture log;
    // An in-memory database has no file to keep a log beside.
    DBFetcher memory(QStringLiteral(":memory:"));
    ASSERT_TRUE(memory.isOpen());
    memory.prepareOnce(&HistorySchema::prepare);
    EXPECT_TRUE(log.contains("cannot use write-ahead logging")) << log.lines().join('\n').toStdString();
    QString mode;
    qint64 rows = -1;
    memory.inDatabase([&](QSqlDatabase& db) {
        QSqlQuery q = DBFetcher::executeQuery(db, QStringLiteral("pragma journal_mode"));
        if (q.next())
            mode = q.value(0).toString();
        DBFetcher::executeUpdate(db, QStringLiteral("insert into History (content, file_hash) values ('x', ?)"),
                                 {hashOf(1)});
        rows = DBFetcher::longForQuery(db, QStringLiteral("select count(*) from History")).value_or(-1);
    });
    EXPECT_EQ(mode, "memory");
    EXPECT_EQ(rows, 1) << "the history still works";
}

// A file of every earlier layout ends with the list index, and the menu's and the upload
// worker's queries walk it instead of sorting the whole table.
TEST_F(HistoryJournalTest, TheListIndexExistsAfterAStartOnAnyFile)
{
    const struct {
        const char* name;
        const char* create;
        bool withUniqueIndex;
    } cases[] = {
        {"new file", nullptr, false},
        {"file of the previous version", kFullTable, true},
        {"oldest layout", kThirteenColumns, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DBFetcher::resetSharedInstance();
        QDir(libraryDir()).removeRecursively();
        if (c.create) {
            RawDb raw(dbPath());
            ASSERT_TRUE(raw.exec(c.create)) << raw.lastError().toStdString();
            if (c.withUniqueIndex) {
                ASSERT_TRUE(raw.exec("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category)"));
            }
            ASSERT_TRUE(raw.exec(QStringLiteral("insert into History (content, file_hash, timeStamp) values ('old', '%1', 5)")
                                     .arg(hashOf(9))));
        }
        HistoryModel::initialize();
        RawDb raw(dbPath());
        QStringList indexed;
        for (const auto& row : raw.rows("pragma index_info(History_category_timeStamp)"))
            indexed << row.value(2).toString();
        EXPECT_EQ(indexed, (QStringList{"category", "timeStamp"}));
        EXPECT_EQ(raw.columns(), kColumns);
        EXPECT_TRUE(raw.hasUniqueIndex());

        const struct {
            const char* sql;
            QVariantList args;
        } queries[] = {
            {"select * from History where category is ? order by timeStamp desc limit ?", {"history", 30}},
            {"select * from History where change_timestamp > 0 and file_size <= ? and secert = 0 and "
             "category = 'history' order by timeStamp desc limit 1",
             {ClipBodyLimit::kBytes}},
            {"select * from history where category is 'history' and type like 'text%' and timestamp >= ? "
             "order by timestamp",
             {1000}},
        };
        for (const auto& query : queries) {
            const QString plan = planOf(raw, QString::fromLatin1(query.sql), query.args);
            EXPECT_TRUE(plan.contains("History_category_timeStamp")) << query.sql << ": " << plan.toStdString();
            EXPECT_FALSE(plan.contains("TEMP B-TREE")) << query.sql << ": " << plan.toStdString();
        }
    }
}

TEST_F(HistoryJournalTest, ATransactionCommitsAllItsStatementsOrNone)
{
    HistoryModel::initialize();
    auto insert = [](QSqlDatabase& db, int n) {
        return DBFetcher::executeUpdate(
            db, QStringLiteral("insert into History (content, file_hash) values ('x', ?)"), {hashOf(n)});
    };
    EXPECT_TRUE(HistoryModel::inTransaction([&](QSqlDatabase& db) { return insert(db, 1) && insert(db, 2); }));
    // The block refuses after its first statement: that one is undone too.
    EXPECT_FALSE(HistoryModel::inTransaction([&](QSqlDatabase& db) { return insert(db, 3) && false; }));
    // A statement fails (the unique index) after one that succeeded.
    EXPECT_FALSE(HistoryModel::inTransaction([&](QSqlDatabase& db) { return insert(db, 4) && insert(db, 1); }));
    RawDb raw(dbPath());
    QStringList stored;
    for (const auto& row : raw.rows("select file_hash from History order by file_hash"))
        stored << row.value(0).toString();
    EXPECT_EQ(stored, (QStringList{hashOf(1), hashOf(2)}));
    // The queue is free for the next block: nothing was left open.
    savedClip(5);
    EXPECT_EQ(raw.scalar("select count(*) from History").toInt(), 3);
}

// Something under the name History that the schema step cannot bring to its layout makes
// every capture fail: the file is moved aside whole, never deleted, and a new one started.
TEST_F(HistoryJournalTest, AForeignHistoryIsMovedAsideAndANewOneStarted)
{
    const struct {
        const char* name;
        QString history;  // what defines History
        QStringList more;
    } cases[] = {
        {"a view", "create view History as select a as content, b as file_hash from clips",
         {"create table clips (a, b)", "insert into clips values (1, 2)"}},
        {"no content or hash", "create table History (title TEXT, body BLOB)",
         {"insert into History values ('t', 'b')"}},
        {"no content", "create table History (timeStamp REAL, file_hash TEXT NOT NULL)",
         {QStringLiteral("insert into History values (1, '%1')").arg(hashOf(1))}},
        {"a column only the category rebuild could add, but category is there",
         "create table History (content TEXT NOT NULL, file_hash TEXT NOT NULL, category TEXT)",
         {QStringLiteral("insert into History values ('x', '%1', 'history')").arg(hashOf(1))}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DBFetcher::resetSharedInstance();
        QDir(libraryDir()).removeRecursively();
        {
            RawDb raw(dbPath());
            QStringList statements = c.more;
            // A view needs its table first; rows need their table.
            if (c.history.startsWith("create table"))
                statements.prepend(c.history);
            else
                statements.append(c.history);
            for (const QString& sql : statements)
                ASSERT_TRUE(raw.exec(sql)) << sql.toStdString() << ": " << raw.lastError().toStdString();
        }

        LogCapture log;
        savedClip(7);
        const QStringList aside = asideCopies();
        ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
        EXPECT_TRUE(log.contains("moved to"));
        // What was there is kept as it was: same definition, same rows, nothing added.
        RawDb old(libraryDir() + '/' + aside.first());
        EXPECT_EQ(old.scalar("select sql from sqlite_master where lower(name) = 'history'").toString().toLower(),
                  c.history.toLower());
        EXPECT_EQ(old.scalar("select count(*) from History").toInt(), 1);
        EXPECT_EQ(old.scalar("select count(*) from sqlite_master where name like 'History%'").toInt(), 1);

        EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(7)});
        RawDb raw(dbPath());
        EXPECT_EQ(raw.columns(), kColumns);
    }
}

// Another process holds the file longer than the busy timeout at start: the history is
// unavailable, the user is told once, and a later try opens it once the lock is gone.
TEST_F(HistoryJournalTest, AFileLockedAtStartIsOpenedByALaterTryAndTheUserIsToldOnce)
{
    savedClip(1);
    DBFetcher::resetSharedInstance();
    DBFetcher::setTiming({50ms, 100ms, 200ms});
    auto notifications = std::make_shared<UserNotificationsFake>();
    UserNotifications::setCurrent(notifications);

    auto holder = std::make_unique<RawDb>(dbPath());
    ASSERT_TRUE(holder->exec("PRAGMA locking_mode=EXCLUSIVE"));
    ASSERT_TRUE(holder->exec("BEGIN EXCLUSIVE")) << holder->lastError().toStdString();

    LogCapture log;
    HistoryModel::initialize();
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
    EXPECT_EQ(notifications->count(), 1);
    savedClip(2);  // stores nothing
    EXPECT_TRUE(DBKeeper::getAllHistory().isEmpty());

    // Tries while the lock is held fail quietly: the user was told already.
    EXPECT_TRUE(testenv::waitUntil([&] {
        DBFetcher::sharedInstance().retryOpenIfDue();
        return log.lines().filter("trying the history database").size() >= 2;
    }));
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
    EXPECT_EQ(notifications->count(), 1);

    holder->exec("ROLLBACK");
    holder.reset();
    EXPECT_TRUE(testenv::waitUntil([] { return DBFetcher::sharedInstance().retryOpenIfDue(); }));
    EXPECT_TRUE(asideCopies().isEmpty()) << "a locked file is not damaged";
    savedClip(3, QStringLiteral("history"), 2000);
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), (QStringList{hashOf(3), hashOf(1)}));
    RawDb raw(dbPath());
    EXPECT_EQ(raw.scalar("pragma journal_mode").toString(), "wal");
    EXPECT_EQ(notifications->count(), 1);
}
