#include "historytestsupport.h"

#include "store/dbkeeper.h"
#include "store/historymodel.h"
#include "store/historyschema.h"

#include <QRegularExpression>

#include <limits>

#include <gtest/gtest.h>

using namespace historytest;

namespace {

// Every column of History, in table order.
const QStringList kColumns{
    "content",       "timeStamp",  "deviceName", "file_hash", "type",     "history_id", "file_id", "file_ready",
    "file_name",     "change_timestamp", "local_file_ok", "file_size", "secert", "category", "favourite", "key_hash",
    "server_time"};

// The oldest layout: thirteen columns, no category, no unique index.
const char* kThirteenColumns =
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0)";

const char* kTwelveColumns =
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0)";

// The full layout but without its index and with content allowed to be NULL, as a damaged
// or hand-edited table might be.
const char* kSixteenNoIndex =
    "CREATE TABLE History (content TEXT, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0, "
    "category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0, key_hash TEXT DEFAULT NULL)";

void makeFixture(const char* create, const QStringList& inserts)
{
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(create)) << raw.lastError().toStdString();
    for (const QString& sql : inserts)
        ASSERT_TRUE(raw.exec(sql)) << sql.toStdString() << ": " << raw.lastError().toStdString();
}

}  // namespace

class HistorySchemaTest : public HistoryDbTest {};

TEST_F(HistorySchemaTest, ThirteenColumnTableGetsAllColumnsTheIndexAndCategoryHistory)
{
    makeFixture(kThirteenColumns,
                {QStringLiteral("insert into History (content, timeStamp, deviceName, file_hash, type, history_id, "
                                "file_id, file_ready, file_name, change_timestamp, local_file_ok, file_size, secert) "
                                "values ('a', 100.5, 'mac', '%1', 'text_txt', 7, 8, 1, NULL, 99, 1, 12.5, 1)")
                     .arg(hashOf(1)),
                 QStringLiteral("insert into History (content, timeStamp, file_hash) values ('b', 200, '%1')")
                     .arg(hashOf(2)),
                 // A copy table left by an interrupted earlier rebuild.
                 QStringLiteral("CREATE TABLE History2 (x)")});
    HistoryModel::initialize();

    RawDb raw(dbPath());
    EXPECT_EQ(raw.columns(), kColumns);
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_EQ(raw.scalar("select count(*) from sqlite_master where name = 'History2'").toInt(), 0);
    const auto rows = raw.rows("select content, timeStamp, deviceName, history_id, file_id, file_ready, "
                               "change_timestamp, local_file_ok, file_size, secert, category, favourite, key_hash "
                               "from History order by timeStamp");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].mid(0, 12), (QVariantList{"a", 100.5, "mac", 7, 8, 1, 99, 1, 12.5, 1, "history", 0}));
    EXPECT_TRUE(rows[0].at(12).isNull());
    EXPECT_EQ(rows[1].at(0), "b");
    EXPECT_EQ(rows[1].at(10), "history");

    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hashOf(1));
    clip->fetch();
    EXPECT_EQ(clip->content(), "a");
    EXPECT_EQ(clip->history_id().toLongLong(), 7);
}

TEST_F(HistorySchemaTest, TableWithoutSecertGetsItBeforeTheRebuild)
{
    makeFixture(kTwelveColumns, {QStringLiteral("insert into History (content, timeStamp, file_hash) values "
                                                "('a', 100, '%1')")
                                     .arg(hashOf(1))});
    HistoryModel::initialize();
    RawDb raw(dbPath());
    EXPECT_EQ(raw.columns(), kColumns);
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_EQ(raw.rows("select content, secert, category from History"),
              (std::vector<QVariantList>{{"a", 0, "history"}}));
}

// Without a category every old row becomes "history": a repeated hash is reduced to its
// newest row (the later one on a tie) so the unique index can be made; every hash stays.
TEST_F(HistorySchemaTest, RepeatedHashesInTheOldTableKeepTheNewestRow)
{
    const QString insert = QStringLiteral("insert into History (content, timeStamp, file_hash) values ('%1', %2, '%3')");
    makeFixture(kThirteenColumns, {insert.arg("a-old").arg(100).arg(hashOf(1)), insert.arg("a-new").arg(300).arg(hashOf(1)),
                                   insert.arg("a-mid").arg(200).arg(hashOf(1)), insert.arg("b").arg(150).arg(hashOf(2)),
                                   insert.arg("c-first").arg(50).arg(hashOf(3)),
                                   insert.arg("c-second").arg(50).arg(hashOf(3))});
    HistoryModel::initialize();
    RawDb raw(dbPath());
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_EQ(raw.columns(), kColumns);
    EXPECT_EQ(raw.rows("select content from History order by file_hash"),
              (std::vector<QVariantList>{{"a-new"}, {"b"}, {"c-second"}}));
}

TEST_F(HistorySchemaTest, TableLeftWithoutItsIndexGetsItBack)
{
    const QString insert =
        QStringLiteral("insert into History (content, timeStamp, file_hash, category) values ('%1', %2, '%3', '%4')");
    makeFixture(kSixteenNoIndex, {insert.arg("h-old").arg(1).arg(hashOf(1)).arg("history"),
                                  insert.arg("h-new").arg(2).arg(hashOf(1)).arg("history"),
                                  insert.arg("fav").arg(1).arg(hashOf(1)).arg("favourite")});
    HistoryModel::initialize();
    RawDb raw(dbPath());
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_EQ(raw.rows("select content, category from History order by category"),
              (std::vector<QVariantList>{{"fav", "favourite"}, {"h-new", "history"}}));
}

TEST_F(HistorySchemaTest, EveryStartDropsRowsWithoutContentAndClipsOfNothing)
{
    const QString insert = QStringLiteral("insert into History (content, file_hash) values (%1, '%2')");
    makeFixture(kSixteenNoIndex, {insert.arg("NULL").arg(hashOf(1)), insert.arg("'x'").arg("d41d8cd98f00b204e9800998ecf8427e"),
                                  insert.arg("'kept'").arg(hashOf(3))});
    HistoryModel::initialize();
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(3)});
}

TEST_F(HistorySchemaTest, TableTheRebuildCannotFillIsKeptUntouchedInTheFileMovedAside)
{
    // No content column: the copy into the new table could not fill it.
    makeFixture("CREATE TABLE History (timeStamp REAL, file_hash TEXT NOT NULL)",
                {QStringLiteral("insert into History values (1, '%1')").arg(hashOf(1)),
                 QStringLiteral("insert into History values (2, '%1')").arg(hashOf(2))});
    HistoryModel::initialize();
    // The file itself, beside its -wal and -shm.
    const QStringList aside = QDir(libraryDir())
                                  .entryList({QStringLiteral("clipDB.sqlite.corrupt-*")}, QDir::Files, QDir::Name)
                                  .filter(QRegularExpression(QStringLiteral("corrupt-\\d+$")));
    ASSERT_EQ(aside.size(), 1);
    RawDb old(libraryDir() + '/' + aside.first());
    EXPECT_EQ(old.scalar("select count(*) from History").toInt(), 2);
    EXPECT_FALSE(old.columns().contains("category"));
    EXPECT_EQ(old.scalar("select count(*) from sqlite_master where name = 'History2'").toInt(), 0);
    RawDb raw(dbPath());
    EXPECT_EQ(raw.columns(), kColumns);
}

// The file of the build before the service's times were kept: it opens with every row as it
// was and every server time unknown (0), so a clear keeps its rows until a pull lists them.
TEST_F(HistorySchemaTest, TheSixteenColumnFileGetsAnUnknownServerTimeForEveryRow)
{
    const char* create =
        "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
        "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL "
        "DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL "
        "DEFAULT 0, local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT "
        "NULL DEFAULT 0, category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0, key_hash "
        "TEXT DEFAULT NULL)";
    makeFixture(create,
                {QStringLiteral("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category)"),
                 QStringLiteral("insert into History (content, timeStamp, file_hash, type, history_id, file_ready, "
                                "category, favourite, key_hash) values ('a', 100, '%1', 'text_txt+enc', 7, 1, "
                                "'history', 0, NULL)")
                     .arg(hashOf(1)),
                 QStringLiteral("insert into History (content, timeStamp, file_hash, history_id, category, favourite) "
                                "values ('a', 100, '%1', 7, 'favourite', 55)")
                     .arg(hashOf(1))});
    HistoryModel::initialize();
    RawDb raw(dbPath());
    EXPECT_EQ(raw.columns(), kColumns);
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_EQ(raw.rows("select content, ifnull(type, ''), history_id, file_ready, category, favourite, server_time from History "
                       "order by category"),
              (std::vector<QVariantList>{{"a", "", 7, 0, "favourite", 55, 0}, {"a", "text_txt+enc", 7, 1, "history", 0, 0}}));
    // A clear of the service at any time keeps them: when it held them is not known here.
    EXPECT_TRUE(DBKeeper::clearHistoryLessThan(QVariant(std::numeric_limits<qint64>::max())).isEmpty());
    EXPECT_EQ(raw.scalar("select count(*) from History").toInt(), 2);
}

TEST_F(HistorySchemaTest, UniqueIndexAllowsOneRowPerHashAndCategory)
{
    HistoryModel::initialize();
    RawDb raw(dbPath());
    const QString insert = QStringLiteral("insert into History (content, file_hash, category) values ('x', ?, ?)");
    EXPECT_TRUE(raw.exec(insert, {hashOf(1), "history"}));
    EXPECT_FALSE(raw.exec(insert, {hashOf(1), "history"}));
    EXPECT_TRUE(raw.exec(insert, {hashOf(1), "favourite"}));
}

namespace {

qint64 pragmaValue(const char* name)
{
    qint64 value = -1;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        value = DBFetcher::longForQuery(db, QStringLiteral("PRAGMA %1").arg(QLatin1String(name))).value_or(-1);
    });
    return value;
}

// Many large rows, then all of them gone: the file is left with free pages.
void leaveFreePages()
{
    HistoryModel::inDatabase([](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("BEGIN"));
        for (int i = 0; i < 3000; ++i)
            DBFetcher::executeUpdate(db,
                                     QStringLiteral("insert into History (content, file_hash) values (?, ?)"),
                                     {QString(1000, QChar(u'a' + i % 26)), hashOf(100000 + i)});
        DBFetcher::executeUpdate(db, QStringLiteral("COMMIT"));
        DBFetcher::executeUpdate(db, QStringLiteral("delete from History where file_hash != ?"), {hashOf(1)});
    });
}

// The steps as start-up runs them, each a block of its own; how many it took.
int compactInSteps()
{
    int steps = 0;
    for (bool more = true; more; ++steps)
        HistoryModel::inDatabase([&](QSqlDatabase& db) { more = HistorySchema::compactStep(db); });
    return steps;
}

}  // namespace

// A new history gives its free pages back a few at a time, so no block holds the queue long.
TEST_F(HistorySchemaTest, ANewHistoryGivesItsFreePagesBackInShortSteps)
{
    savedClip(1);
    EXPECT_EQ(pragmaValue("auto_vacuum"), 2) << "incremental";
    leaveFreePages();
    const qint64 free = pragmaValue("freelist_count");
    ASSERT_GT(free, 2 * HistorySchema::kPagesPerStep);
    const qint64 pages = pragmaValue("page_count");

    HistoryModel::inDatabase([](QSqlDatabase& db) { HistorySchema::compact(db); });
    EXPECT_EQ(pragmaValue("freelist_count"), free) << "nothing to turn: no long VACUUM";
    EXPECT_GT(compactInSteps(), 2);
    EXPECT_EQ(pragmaValue("freelist_count"), 0);
    EXPECT_LT(pragmaValue("page_count"), pages - free / 2);
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(1)});
}

// A file made before gives its free pages back once by VACUUM, and from then on in steps; one
// with none to give is left as it is.
TEST_F(HistorySchemaTest, AnOlderFileWithFreePagesIsTurnedOnceThenCompactsInSteps)
{
    for (const bool withFreePages : {false, true}) {
        SCOPED_TRACE(withFreePages ? "free pages" : "no free pages");
        DBFetcher::resetSharedInstance();
        QDir(libraryDir()).removeRecursively();
        {
            RawDb raw(dbPath());
            raw.exec("PRAGMA auto_vacuum=NONE");
            ASSERT_TRUE(HistorySchema::prepare(raw.db()));
            raw.exec("insert into History (content, file_hash) values ('kept', ?)", {hashOf(1)});
        }
        HistoryModel::initialize();
        ASSERT_EQ(pragmaValue("auto_vacuum"), 0);
        if (withFreePages)
            leaveFreePages();
        HistoryModel::inDatabase([](QSqlDatabase& db) { HistorySchema::compact(db); });
        EXPECT_EQ(pragmaValue("auto_vacuum"), withFreePages ? 2 : 0);
        EXPECT_EQ(pragmaValue("freelist_count"), 0);
        EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(1)});
        if (withFreePages) {
            leaveFreePages();
            HistoryModel::inDatabase([](QSqlDatabase& db) { HistorySchema::compact(db); });
            ASSERT_GT(pragmaValue("freelist_count"), 0) << "no second VACUUM";
            EXPECT_GT(compactInSteps(), 1);
            EXPECT_EQ(pragmaValue("freelist_count"), 0);
        }
    }
}
