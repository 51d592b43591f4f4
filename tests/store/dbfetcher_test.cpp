#include "historytestsupport.h"

#include "platform/fake/usernotificationsfake.h"
#include "store/dbkeeper.h"
#include "store/historymodel.h"
#include "store/pathhelper.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <functional>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

using namespace historytest;

namespace {

// Every column of History, in table order.
const QStringList kColumns{
    "content",       "timeStamp",  "deviceName", "file_hash", "type",     "history_id", "file_id", "file_ready",
    "file_name",     "change_timestamp", "local_file_ok", "file_size", "secert", "category", "favourite", "key_hash",
    "server_time"};

QStringList corruptCopies()
{
    return QDir(libraryDir()).entryList({QStringLiteral("clipDB.sqlite.corrupt-*")}, QDir::Files, QDir::Name);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

}  // namespace

class DatabaseFile : public HistoryDbTest {
protected:
    void TearDown() override
    {
        HistoryDbTest::TearDown();
        UserNotifications::setCurrent(nullptr);
    }
};

TEST_F(DatabaseFile, MissingFileIsCreatedWithTheFullTableAndIndex)
{
    ASSERT_FALSE(QFile::exists(dbPath()));
    HistoryModel::initialize();
    EXPECT_TRUE(DBFetcher::sharedInstance().isOpen());
    RawDb raw(dbPath());
    EXPECT_EQ(raw.columns(), kColumns);
    EXPECT_TRUE(raw.hasUniqueIndex());
    EXPECT_TRUE(corruptCopies().isEmpty());
}

// A file SQLite cannot read as a database, or one its integrity check reports damaged, is
// moved aside whole (journal included) and a new database takes its place.
TEST_F(DatabaseFile, BrokenFileIsMovedAsideAndANewDatabaseWorks)
{
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"not a database",
         [] {
             writeFile(dbPath(), QByteArray("this is not a database, just some text\n").repeated(200));
             writeFile(dbPath() + "-wal", "wal bytes");
         }},
        {"damaged page",
         [] {
             {
                 RawDb raw(dbPath());
                 raw.exec("create table t(a)");
                 for (int i = 0; i < 200; ++i)
                     raw.exec("insert into t values (randomblob(200))");
             }
             // Over the table's first page: the quick check at opening reads it.
             QFile file(dbPath());
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             file.seek(4096 + 8);
             file.write(QByteArray(64, '\x5a'));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DBFetcher::resetSharedInstance();
        QDir(libraryDir()).removeRecursively();
        c.make();
        const QByteArray original = readAll(dbPath());
        const bool hadJournal = QFile::exists(dbPath() + "-wal");

        LogCapture log;
        savedClip(1);
        const QStringList aside = corruptCopies();
        ASSERT_FALSE(aside.isEmpty());
        EXPECT_TRUE(aside.first().contains(QRegularExpression("^clipDB\\.sqlite\\.corrupt-\\d+$")));
        EXPECT_EQ(readAll(libraryDir() + '/' + aside.first()), original);
        if (hadJournal) {
            ASSERT_TRUE(aside.contains(aside.first() + "-wal")) << aside.join(' ').toStdString();
            EXPECT_EQ(readAll(libraryDir() + '/' + aside.first() + "-wal"), "wal bytes");
        } else {
            EXPECT_EQ(aside.size(), 1);
        }
        EXPECT_NE(readAll(dbPath() + "-wal"), "wal bytes") << "the new database has a log of its own";
        EXPECT_TRUE(log.contains("moved to"));

        const HistoryList all = DBKeeper::getAllHistory();
        ASSERT_EQ(all.size(), 1);
        EXPECT_EQ(all.first()->file_hash(), hashOf(1));
    }
}

// A file another connection holds under an exclusive lock is not damaged: it stays where it
// is, untouched, and the history is unavailable for this run.
TEST_F(DatabaseFile, LockedFileIsKeptAndTheDatabaseStaysUnavailable)
{
    savedClip(1);
    DBFetcher::resetSharedInstance();
    const QByteArray before = readAll(dbPath());
    {
        RawDb holder(dbPath());
        ASSERT_TRUE(holder.exec("PRAGMA locking_mode=EXCLUSIVE"));
        ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE")) << holder.lastError().toStdString();

        LogCapture log;
        HistoryModel::initialize();  // waits out the busy timeout
        EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
        EXPECT_TRUE(log.contains("db error"));
        EXPECT_TRUE(DBKeeper::getAllHistory().isEmpty());
        savedClip(2);  // stores nothing
        bool ran = false;
        HistoryModel::inDatabase([&](QSqlDatabase&) { ran = true; });
        EXPECT_FALSE(ran);
        EXPECT_TRUE(corruptCopies().isEmpty());
        EXPECT_EQ(readAll(dbPath()), before);
        holder.exec("ROLLBACK");
    }
    DBFetcher::resetSharedInstance();
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(1)});
}

TEST_F(DatabaseFile, ClosedDatabaseSkipsEveryBlock)
{
    savedClip(1);
    DBFetcher::sharedInstance().close();
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
    bool ran = false;
    HistoryModel::inDatabase([&](QSqlDatabase&) { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(DBKeeper::getAllHistory().isEmpty());
}

TEST_F(DatabaseFile, BlocksFromManyThreadsRunOneAtATime)
{
    HistoryModel::initialize();
    std::atomic<int> inside{0};
    std::atomic<int> overlap{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                HistoryModel::inDatabase([&](QSqlDatabase&) {
                    if (inside.fetch_add(1) != 0)
                        ++overlap;
                    std::this_thread::yield();
                    inside.fetch_sub(1);
                });
                savedClip(t * 100 + i);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(overlap.load(), 0);
    RawDb raw(dbPath());
    EXPECT_EQ(raw.scalar("select count(*) from History").toInt(), 100);
}

using DatabaseFileDeathTest = DatabaseFile;

TEST_F(DatabaseFileDeathTest, NestedBlockAbortsInsteadOfDeadlocking)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            HistoryModel::inDatabase([](QSqlDatabase&) { DBKeeper::getAllHistory(); });
        },
        "nested database block");
}

// Stored numbers of every kind read as whole numbers through the one range-checked reader:
// beyond the range held at its end, text read as its number, anything else 0.
TEST_F(DatabaseFile, ColumnReadsAreRangeChecked)
{
    HistoryModel::initialize();
    std::vector<qint64> wholes;
    std::vector<double> reals;
    DBFetcher::sharedInstance().inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rs = DBFetcher::executeQuery(
            db, QStringLiteral("SELECT 1e30, -1e30, '1e30', 2.9, -2.9, '  42 ', 'abc', NULL, "
                               "9223372036854775807, '0.25', 7"));
        ASSERT_TRUE(rs.next());
        for (int i = 0; i < 11; ++i) {
            wholes.push_back(DBFetcher::longForColumnIndex(rs, i));
            reals.push_back(DBFetcher::doubleForColumnIndex(rs, i));
        }
    });
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    EXPECT_EQ(wholes, (std::vector<qint64>{kMax, kMin, kMax, 2, -2, 42, 0, 0, kMax, 0, 7}));
    EXPECT_EQ(reals, (std::vector<double>{1e30, -1e30, 1e30, 2.9, -2.9, 42, 0, 0, 9223372036854775807.0, 0.25, 7}));
}

// Opening checks every page before anything is written, and leaves only whether each index
// matches its table for later: a file damaged in that way is still found, off the queue, and
// goes aside with its bodies and with what was stored meanwhile; a new history takes over.
TEST_F(DatabaseFile, AnIndexThatNoLongerMatchesItsTableIsFoundAfterOpeningAndGoesAsideWithItsBodies)
{
    auto notices = std::make_shared<UserNotificationsFake>();
    UserNotifications::setCurrent(notices);
    savedClip(1);
    DBFetcher::resetSharedInstance();
    {
        RawDb raw(dbPath());
        raw.exec("PRAGMA writable_schema=ON");
        raw.exec("update sqlite_master set sql = 'CREATE INDEX History_category_timeStamp ON History(timeStamp, "
                 "category)' where name = 'History_category_timeStamp'");
    }
    {
        RawDb raw(dbPath());
        ASSERT_EQ(raw.scalar("pragma quick_check").toString(), "ok");
        ASSERT_NE(raw.scalar("pragma integrity_check").toString(), "ok");
    }
    const QString body = PathHelper::getBaseFilePath(hashOf(2));
    writeFile(body, "body of clip 2");

    HistoryModel::initialize();
    ASSERT_TRUE(DBFetcher::sharedInstance().wholeFileCheckOwed());
    EXPECT_TRUE(corruptCopies().isEmpty());
    // A copy made before the whole-file check is stored at once.
    savedClip(2);
    ASSERT_EQ(RawDb(dbPath()).scalar("select count(*) from History not indexed").toInt(), 2);

    DBFetcher::sharedInstance().checkWholeFile();
    EXPECT_FALSE(DBFetcher::sharedInstance().wholeFileCheckOwed());
    EXPECT_TRUE(DBFetcher::sharedInstance().movedDamagedFileAside());
    const QStringList aside = corruptCopies();
    ASSERT_FALSE(aside.isEmpty());
    {
        RawDb old(libraryDir() + '/' + aside.first());
        EXPECT_EQ(old.scalar("select count(*) from History not indexed").toInt(), 2) << "nothing stored meanwhile is lost";
    }
    EXPECT_TRUE(QFile::exists(libraryDir() + '/' + aside.first() + "-bodies/files/" + hashOf(2)));
    ASSERT_EQ(notices->count(), 1);
    EXPECT_TRUE(notices->delivered().first().informativeText.contains(aside.first()));

    // The new history is ready for the next copy.
    EXPECT_TRUE(DBKeeper::getAllHistory().isEmpty());
    savedClip(3);
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(3)});
    DBFetcher::sharedInstance().checkWholeFile();
    EXPECT_EQ(corruptCopies(), QStringList{aside.first()}) << "the new history is not moved again";
}

// A sound file passes the later check and stays; it is checked once.
TEST_F(DatabaseFile, ASoundFilePassesTheLaterCheckAndKeepsItsRows)
{
    savedClip(1);
    DBFetcher::resetSharedInstance();
    HistoryModel::initialize();
    ASSERT_TRUE(DBFetcher::sharedInstance().wholeFileCheckOwed());
    LogCapture log;
    DBFetcher::sharedInstance().checkWholeFile();
    EXPECT_FALSE(DBFetcher::sharedInstance().wholeFileCheckOwed());
    EXPECT_TRUE(log.hasMessage("history database checked"));
    EXPECT_FALSE(DBFetcher::sharedInstance().movedDamagedFileAside());
    EXPECT_TRUE(corruptCopies().isEmpty());
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), QStringList{hashOf(1)});
}
