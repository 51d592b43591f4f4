#include "historytestsupport.h"

#include "store/dbkeeper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>

using namespace historytest;

namespace {

const QString kHistory = QStringLiteral("history");
const QString kFavourite = QStringLiteral("favourite");

// Sets columns of one row directly, for states the record alone cannot make (local_file_ok
// follows the disk on every save).
void setColumns(int n, const QString& category, const QString& assignments)
{
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set %1 where file_hash = ? and category = ?").arg(assignments),
                         {hashOf(n), category}))
        << raw.lastError().toStdString();
}

int rowCount()
{
    return RawDb(dbPath()).scalar("select count(*) from History").toInt();
}

QStringList hashes(std::initializer_list<int> numbers)
{
    QStringList out;
    for (int n : numbers)
        out << hashOf(n);
    return out;
}

}  // namespace

class HistoryQueries : public HistoryDbTest {};

TEST_F(HistoryQueries, ListsAreNewestFirstAndCappedAtThirty)
{
    for (int i = 0; i < 100; ++i)
        savedClip(i, kHistory, 1000 + i);
    for (int i = 0; i < 3; ++i)
        savedClip(500 + i, kFavourite, 5000 + i);

    const struct {
        qint64 count;
        int expected;
    } cases[] = {{0, 0}, {-1, 30}, {29, 29}, {30, 30}, {31, 30}, {100, 30}};
    for (const auto& c : cases) {
        const HistoryList list = DBKeeper::getAllHistoryAtCategory(kHistory, c.count);
        ASSERT_EQ(list.size(), c.expected) << c.count;
        for (int i = 0; i < list.size(); ++i)
            EXPECT_EQ(list[i]->file_hash(), hashOf(99 - i));
    }
    EXPECT_EQ(DBKeeper::getAllHistory().size(), 30);
    EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(kHistory).size(), 30);
    EXPECT_EQ(hashesOf(DBKeeper::getAllFavourites()), hashes({502, 501, 500}));
    EXPECT_TRUE(DBKeeper::getAllHistoryAtCategory(std::nullopt).isEmpty());
}

TEST_F(HistoryQueries, TextClipsFromATimeOnAreOldestFirst)
{
    savedClip(1, kHistory, 99);
    savedClip(2, kHistory, 100);
    savedClip(3, kHistory, 150, QStringLiteral("text_url_http+enc"));
    savedClip(4, kHistory, 120, QStringLiteral("image_data+zip+enc"));
    savedClip(5, kHistory, 130, QStringLiteral("file_pdf+zip+enc"));
    savedClip(6, kFavourite, 140);
    savedClip(7, kHistory, 110);
    EXPECT_EQ(hashesOf(DBKeeper::getHistoryGreatThan(QVariant(100))), hashes({2, 7, 3}));
}

TEST_F(HistoryQueries, ClipByServerIdRefusesIdsThatAreNotOnTheServer)
{
    savedClip(1);  // history_id 0: not on the server
    savedClip(2);
    savedClip(2, kFavourite);
    savedClip(3);
    setColumns(2, kHistory, "history_id = 42");
    setColumns(2, kFavourite, "history_id = 42");
    setColumns(3, kHistory, "history_id = -1");

    EXPECT_EQ(DBKeeper::getClipObjectWithHistoryID(42, kHistory)->category(), kHistory);
    EXPECT_EQ(DBKeeper::getClipObjectWithHistoryID(QStringLiteral("42"), kFavourite)->category(), kFavourite);
    EXPECT_EQ(DBKeeper::getClipObjectWithHistoryID(42.0, kHistory)->file_hash(), hashOf(2));
    for (const QVariant& refused : {QVariant(0), QVariant(-1), QVariant("0"), QVariant("abc"), QVariant(42.5),
                                    QVariant(), QVariant(true), QVariant(1e30), QVariant(-1e30),
                                    QVariant(std::nan("")), QVariant("1e3"), QVariant("99999999999999999999")})
        EXPECT_FALSE(DBKeeper::getClipObjectWithHistoryID(refused, kHistory)) << refused.toString().toStdString();
    EXPECT_FALSE(DBKeeper::getClipObjectWithHistoryID(43, kHistory));
}

TEST_F(HistoryQueries, DeletesByServerIdRefuseZeroAndBelow)
{
    savedClip(1);
    savedClip(2);
    savedClip(3);
    setColumns(2, kHistory, "history_id = 7");
    setColumns(3, kHistory, "history_id = 8");

    for (const QVariant& refused : {QVariant(0), QVariant(-3), QVariant("0"), QVariant()}) {
        EXPECT_TRUE(DBKeeper::deleteHistoryWithId(refused).isEmpty());
        HistoryList deleted{savedClip(99)};
        EXPECT_FALSE(DBKeeper::deleteClipWithHistoryID(refused, &deleted));
        EXPECT_EQ(deleted.size(), 1);  // untouched
        DBKeeper::deleteClipItem(hashOf(99));
    }
    EXPECT_EQ(rowCount(), 3);

    EXPECT_EQ(hashesOf(DBKeeper::deleteHistoryWithId(QStringLiteral("7"))), hashes({2}));
    HistoryList deleted;
    EXPECT_TRUE(DBKeeper::deleteClipWithHistoryID(8, &deleted));
    EXPECT_EQ(hashesOf(deleted), hashes({3}));
    EXPECT_TRUE(DBKeeper::deleteClipWithHistoryID(8));  // nothing left to match: still ran
    EXPECT_EQ(hashesOf(DBKeeper::getAllHistory()), hashes({1}));
}

TEST_F(HistoryQueries, CleanupKeepsTheNewestSixtyOfTheCategory)
{
    struct Case {
        const char* name;
        int rows;
        bool tieAtBoundary;
        int deleted;
    } cases[] = {
        {"exactly 60", 60, false, 0},
        {"61 distinct times", 61, false, 1},
        {"61 with the 60th and 61st sharing a time", 61, true, 0},
        {"65 distinct times", 65, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DBKeeper::removeAllData();
        // Every row here is held by the service, so only the count decides.
        for (int i = 0; i < c.rows; ++i)
            savedClip(i, kHistory, 1000 + i);
        if (c.tieAtBoundary)
            setColumns(0, kHistory, "timeStamp = 1001");  // the oldest now ties with the next
        for (int i = 0; i < 70; ++i)
            savedClip(1000 + i, kFavourite, i);  // old favourites are another category's business
        RawDb(dbPath()).exec(QStringLiteral("update History set history_id = 5000 + rowid"));
        setColumns(0, kHistory, "favourite = 123");

        const HistoryList deleted = DBKeeper::cleanupDatabase(kHistory);
        ASSERT_EQ(deleted.size(), c.deleted);
        for (int i = 0; i < c.deleted; ++i)
            EXPECT_EQ(deleted[i]->file_hash(), hashOf(i));
        RawDb raw(dbPath());
        EXPECT_EQ(raw.scalar("select count(*) from History where category = 'history'").toInt(), c.rows - c.deleted);
        EXPECT_EQ(raw.scalar("select count(*) from History where category = 'favourite'").toInt(), 70);
    }
    EXPECT_EQ(DBKeeper::cleanupDatabase(kFavourite).size(), 10);
}

// The clean-up to 60 removes only rows the service holds: any other old row may be the only
// copy of its clip, and stays whatever the count.
TEST_F(HistoryQueries, CleanupRemovesOnlyRowsTheServiceHolds)
{
    const struct {
        const char* name;
        const char* assignments;
        bool removed;
    } oldRows[] = {
        {"held: server id, nothing pending, not secret", "history_id = 11", true},
        {"never posted", "history_id = 0", false},
        {"secret (a copied file)", "history_id = 12, secert = 1", false},
        {"secret and never posted", "history_id = 0, secert = 1", false},
        {"a change still pending", "history_id = 13, change_timestamp = 5", false},
        {"pending and never posted", "history_id = 0, change_timestamp = 5", false},
    };
    for (const QString& category : {kHistory, kFavourite}) {
        SCOPED_TRACE(category.toStdString());
        DBKeeper::removeAllData();
        for (int i = 0; i < 70; ++i)
            savedClip(100 + i, category, 1000 + i);
        RawDb(dbPath()).exec(QStringLiteral("update History set history_id = 5000 + rowid"));
        int n = 0;
        for (const auto& row : oldRows)
            setColumns(100 + n++, category, QString::fromLatin1(row.assignments));

        const QStringList deleted = hashesOf(DBKeeper::cleanupDatabase(category));
        QStringList expected;
        n = 0;
        for (const auto& row : oldRows) {
            const bool gone = deleted.contains(hashOf(100 + n));
            EXPECT_EQ(gone, row.removed) << row.name;
            if (row.removed)
                expected << hashOf(100 + n);
            ++n;
        }
        for (int i = int(std::size(oldRows)); i < 10; ++i)
            expected << hashOf(100 + i);  // the other old rows are held
        QStringList sortedDeleted = deleted;
        sortedDeleted.sort();
        EXPECT_EQ(sortedDeleted, expected);
        // 70 rows, 5 kept beyond the newest 60: a second clean-up finds nothing more.
        EXPECT_EQ(rowCount(), 65);
        EXPECT_TRUE(DBKeeper::cleanupDatabase(category).isEmpty());
    }
}

TEST_F(HistoryQueries, ClearingSparesFavouritesOfEitherCategory)
{
    savedClip(1, kHistory);
    savedClip(2, kHistory);
    savedClip(3, kHistory);
    savedClip(4, kFavourite);
    savedClip(5, kFavourite);
    setColumns(2, kHistory, "favourite = 100");
    setColumns(3, kHistory, "favourite = -100");
    setColumns(4, kFavourite, "favourite = 100");

    const HistoryList deleted = DBKeeper::clearAllHistory();
    QStringList gone = hashesOf(deleted);
    gone.sort();
    EXPECT_EQ(gone, hashes({1, 3, 5}));
    RawDb raw(dbPath());
    EXPECT_EQ(raw.rows("select file_hash, category from History order by file_hash"),
              (std::vector<QVariantList>{{hashOf(2), kHistory}, {hashOf(4), kFavourite}}));
}

// A clear compares the service's times only: the time the service was last seen holding a
// row (server_time) with its clearing time. The clip's own time (this device's clock) plays
// no part, and a row the service may not have stays.
TEST_F(HistoryQueries, ClearingBeforeAServerTimeRemovesOnlyRowsTheServiceHeldThen)
{
    const struct {
        const char* name;
        const char* assignments;
        bool cleared;
    } rows[] = {
        {"held before the clear", "history_id = 1, server_time = 50", true},
        {"held before, its own time long after", "history_id = 2, server_time = 50, timeStamp = 9999", true},
        {"held exactly at the clear", "history_id = 3, server_time = 100", false},
        {"seen after the clear, its own time long before", "history_id = 4, server_time = 150, timeStamp = 1", false},
        {"server time unknown", "history_id = 5, server_time = 0, timeStamp = 1", false},
        {"never posted", "history_id = 0, server_time = 50", false},
        {"a change pending", "history_id = 7, server_time = 50, change_timestamp = 3", false},
        {"secret", "history_id = 8, server_time = 50, secert = 1", false},
        {"a favourite", "history_id = 9, server_time = 50, favourite = 1", false},
        {"unfavourited", "history_id = 10, server_time = 50, favourite = -1", true},
    };
    int n = 0;
    for (const auto& row : rows) {
        savedClip(n, kHistory, 1000);
        setColumns(n++, kHistory, QString::fromLatin1(row.assignments));
    }
    savedClip(50, kFavourite, 10);
    setColumns(50, kFavourite, "history_id = 50, server_time = 50, favourite = 1");

    for (const QVariant& refused : {QVariant(true), QVariant(99.5), QVariant(QStringLiteral("100")), QVariant(0),
                                    QVariant()})
        EXPECT_TRUE(DBKeeper::clearHistoryLessThan(refused).isEmpty()) << refused.toString().toStdString();

    const QStringList deleted = hashesOf(DBKeeper::clearHistoryLessThan(QVariant(100)));
    n = 0;
    for (const auto& row : rows)
        EXPECT_EQ(deleted.contains(hashOf(n++)), row.cleared) << row.name;
    EXPECT_EQ(RawDb(dbPath()).scalar("select count(*) from History where category = 'favourite'").toInt(), 1);
}

// The service's time of a row is what a pull saw, under the id it named; a row that takes
// another server id (a new server copy) forgets it until a pull lists it again.
TEST_F(HistoryQueries, TheServerTimeFollowsTheIdItWasSeenUnder)
{
    savedClip(1, kHistory, 1000);
    savedClip(1, kFavourite, 1000);
    setColumns(1, kHistory, "history_id = 7");
    setColumns(1, kFavourite, "history_id = 7");
    auto serverTimes = [] {
        return RawDb(dbPath()).rows("select category, server_time from History order by category");
    };
    HistoryModel::inDatabase([](QSqlDatabase& db) {
        EXPECT_TRUE(DBKeeper::noteServerTime(db, hashOf(1), 7, 500));
        EXPECT_TRUE(DBKeeper::noteServerTime(db, hashOf(1), 7, 400));  // an older sight changes nothing
        EXPECT_TRUE(DBKeeper::noteServerTime(db, hashOf(1), 8, 900));  // another id: not this row
    });
    EXPECT_EQ(serverTimes(), (std::vector<QVariantList>{{kFavourite, 500}, {kHistory, 500}}));

    DBKeeper::ServerState same;
    same.historyId = QVariant(7);
    ASSERT_TRUE(DBKeeper::applyServerState(hashOf(1), kHistory, same));
    EXPECT_EQ(serverTimes(), (std::vector<QVariantList>{{kFavourite, 500}, {kHistory, 500}}));

    DBKeeper::ServerState moved;
    moved.historyId = QVariant(8);
    ASSERT_TRUE(DBKeeper::applyServerState(hashOf(1), kHistory, moved));
    EXPECT_EQ(serverTimes(), (std::vector<QVariantList>{{kFavourite, 0}, {kHistory, 0}}));
}

TEST_F(HistoryQueries, RemovingEverythingOrTheUnreachableGivesTheDeletedRows)
{
    savedClip(1);  // no body anywhere
    savedClip(2);
    savedClip(3);
    savedClip(3, kFavourite);
    setColumns(2, kHistory, "file_ready = 1");
    setColumns(3, kHistory, "local_file_ok = 1");
    EXPECT_EQ(hashesOf(DBKeeper::removeInvalidDatas()), (QStringList{hashOf(1), hashOf(3)}));
    EXPECT_EQ(RawDb(dbPath()).rows("select file_hash, category from History order by file_hash"),
              (std::vector<QVariantList>{{hashOf(2), kHistory}, {hashOf(3), kHistory}}));

    EXPECT_EQ(DBKeeper::removeAllData().size(), 2);
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(DBKeeper::removeAllData().isEmpty());
}

TEST_F(HistoryQueries, UploadSelectionsPassOverSecretAndOversizedClips)
{
    for (const QString& category : {kHistory, kFavourite}) {
        SCOPED_TRACE(category.toStdString());
        DBKeeper::removeAllData();
        savedClip(1, category, 500);  // newest but nothing pending
        savedClip(2, category, 400);  // one byte too large
        savedClip(3, category, 300);  // secret
        savedClip(4, category, 200);  // exactly at the limit
        savedClip(5, category, 100);
        setColumns(2, category, "change_timestamp = 1, file_size = 5767169");
        setColumns(3, category, "change_timestamp = 1, secert = 1");
        setColumns(4, category, "change_timestamp = 1, file_size = 5767168");
        setColumns(5, category, "change_timestamp = 1");
        const auto pick = category == kHistory ? DBKeeper::getUnProcessHistory() : DBKeeper::getUnProcessFavourite();
        ASSERT_TRUE(pick);
        EXPECT_EQ(pick->file_hash(), hashOf(4));
        EXPECT_EQ(pick->category(), category);
        const auto other = category == kHistory ? DBKeeper::getUnProcessFavourite() : DBKeeper::getUnProcessHistory();
        EXPECT_FALSE(other);
    }
}

TEST_F(HistoryQueries, FileSelectionTakesABodyOnExactlyOneSide)
{
    // An upload needs a size: a body only here whose row came from a server record that held
    // no body yet (size 0) is the capturing device's to upload. A download needs none.
    const struct {
        int fileReady;
        int localOk;
        int fileId;
        int fileSize;
        bool taken;
    } cases[] = {
        {1, 0, 5, 9, true},   {0, 1, 5, 9, true},   {1, 1, 5, 9, false}, {0, 0, 5, 9, false},
        {1, 0, 0, 9, false},  {0, 1, -1, 9, false}, {1, 0, 5, 0, true},  {0, 1, 5, 0, false},
    };
    for (const auto& c : cases) {
        DBKeeper::removeAllData();
        savedClip(1, kFavourite);
        setColumns(1, kFavourite,
                   QStringLiteral("file_ready = %1, local_file_ok = %2, file_id = %3, file_size = %4")
                       .arg(c.fileReady)
                       .arg(c.localOk)
                       .arg(c.fileId)
                       .arg(c.fileSize));
        EXPECT_EQ(bool(DBKeeper::getFileProcessHistory()), c.taken) << c.fileReady << c.localOk << c.fileId << c.fileSize;
        EXPECT_EQ(bool(DBKeeper::getFileProcessHistory(QStringList{hashOf(7)})), c.taken)
            << c.fileReady << c.localOk << c.fileId << c.fileSize;
    }
    DBKeeper::removeAllData();
    savedClip(1, kHistory, 100);
    savedClip(2, kFavourite, 200);
    setColumns(1, kHistory, "file_ready = 1, file_id = 3");
    setColumns(2, kFavourite, "local_file_ok = 1, file_id = 4, file_size = 12");
    EXPECT_EQ(DBKeeper::getFileProcessHistory()->file_hash(), hashOf(2));
}

TEST_F(HistoryQueries, DetachingRowsOfOtherKeys)
{
    savedClip(1);  // key A
    savedClip(2);  // key B
    savedClip(3);  // no key
    savedClip(4);  // key B, body not here
    savedClip(5);  // no key, body not here
    savedClip(6);  // key A, body not here
    const QString ids = "history_id = 10, file_id = 11, file_ready = 1";
    setColumns(1, kHistory, ids + ", key_hash = 'A', local_file_ok = 1");
    setColumns(2, kHistory, ids + ", key_hash = 'B', local_file_ok = 1");
    setColumns(3, kHistory, ids + ", local_file_ok = 1");
    setColumns(4, kHistory, ids + ", key_hash = 'B'");
    setColumns(5, kHistory, ids);
    setColumns(6, kHistory, ids + ", key_hash = 'A'");

    for (const std::optional<QString>& none : {std::optional<QString>(), std::optional<QString>(QString())})
        EXPECT_TRUE(DBKeeper::setLocalOnlyWithoutKeyHash(none).isEmpty());
    EXPECT_EQ(rowCount(), 6);

    QStringList gone = hashesOf(DBKeeper::setLocalOnlyWithoutKeyHash(QStringLiteral("A")));
    EXPECT_EQ(gone, hashes({4, 5, 6}));
    RawDb raw(dbPath());
    const auto rows = raw.rows("select file_hash, history_id, file_id, file_ready, key_hash from History order by file_hash");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].mid(0, 5), (QVariantList{hashOf(1), 10, 11, 1, "A"}));
    EXPECT_EQ(rows[1].mid(0, 4), (QVariantList{hashOf(2), 0, 0, 0}));
    EXPECT_TRUE(rows[1].at(4).isNull());
    EXPECT_EQ(rows[2].mid(0, 4), (QVariantList{hashOf(3), 10, 11, 1}));
    EXPECT_TRUE(rows[2].at(4).isNull());
}

TEST_F(HistoryQueries, SyncFavouriteMapsServerIdsToFavouriteValues)
{
    const qint64 big = (qint64(1) << 35) + 1;
    savedClip(1, kFavourite, 10);
    savedClip(2, kFavourite, 20);  // not on the server
    savedClip(3, kFavourite, 30);  // unfavourited
    savedClip(4, kHistory, 40);    // not a favourite copy
    savedClip(5, kFavourite, 50);
    savedClip(6, kFavourite, 5);   // same id as 5, older: replaced by it
    setColumns(1, kFavourite, QStringLiteral("history_id = 123, favourite = 456"));
    setColumns(2, kFavourite, "favourite = 456");
    setColumns(3, kFavourite, "history_id = 124, favourite = -5");
    setColumns(4, kHistory, "history_id = 125, favourite = 5");
    setColumns(5, kFavourite, QStringLiteral("history_id = 126, favourite = %1").arg(big));
    setColumns(6, kFavourite, "history_id = 126, favourite = 1");

    const QVariantMap map = DBKeeper::getSyncFavourite();
    EXPECT_EQ(map.keys(), (QStringList{"123", "126"}));
    EXPECT_EQ(map.value("123").toMap(), (QVariantMap{{"favourite", qint64(456)}}));
    EXPECT_EQ(map.value("123").toMap().value("favourite").typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value("126").toMap().value("favourite").toLongLong(), big);
}

TEST_F(HistoryQueries, SyncStateUpdatesIgnoreAnEmptyHash)
{
    // A row whose hash is the empty text must not be reached by an absent argument.
    RawDb raw(dbPath());
    HistoryModel::initialize();
    ASSERT_TRUE(raw.exec("insert into History (content, file_hash, history_id, file_id, file_ready, key_hash) "
                         "values ('x', '', 1, 2, 1, 'K')"));
    const auto before = raw.rows("select * from History");
    for (const std::optional<QString>& empty : {std::optional<QString>(), std::optional<QString>(QString(""))}) {
        DBKeeper::setLocalFileOkWithHash(empty);
        DBKeeper::setLocalHistoryOnly(empty);
        DBKeeper::setRemoteFileReady(QVariant(0), empty, std::nullopt);
    }
    EXPECT_EQ(raw.rows("select * from History"), before);
}

TEST_F(HistoryQueries, UpdatesByHashReachBothCategories)
{
    savedClip(1, kHistory);
    savedClip(1, kFavourite);
    savedClip(2, kHistory);
    RawDb raw(dbPath());
    const QString both = "select %1 from History where file_hash = '" + hashOf(1) + "' order by category";

    EXPECT_TRUE(DBKeeper::updateTimestamp(QVariant(777.25), hashOf(1)));
    EXPECT_EQ(raw.rows(both.arg("timeStamp")), (std::vector<QVariantList>{{777.25}, {777.25}}));
    EXPECT_TRUE(DBKeeper::setFavourite(QVariant(qint64(-9)), hashOf(1)));
    EXPECT_EQ(raw.rows(both.arg("favourite")), (std::vector<QVariantList>{{-9}, {-9}}));
    EXPECT_TRUE(DBKeeper::updateHistoryID(QVariant(qint64(1) << 40), QVariant(6), hashOf(1)));
    EXPECT_EQ(raw.rows(both.arg("history_id, file_id")),
              (std::vector<QVariantList>{{qint64(1) << 40, 6}, {qint64(1) << 40, 6}}));

    DBKeeper::setRemoteFileReady(QVariant(1), hashOf(1), QStringLiteral("K"));
    EXPECT_EQ(raw.rows(both.arg("file_ready, key_hash")), (std::vector<QVariantList>{{1, "K"}, {1, "K"}}));
    DBKeeper::setRemoteFileReady(QVariant(1), hashOf(1), std::nullopt);
    EXPECT_TRUE(raw.scalar(both.arg("key_hash")).isNull());

    DBKeeper::setLocalFileOkWithHash(hashOf(1));
    EXPECT_EQ(raw.rows(both.arg("local_file_ok")), (std::vector<QVariantList>{{1}, {1}}));
    DBKeeper::setRemoteFileReady(QVariant(1), hashOf(1), QStringLiteral("K"));
    DBKeeper::setLocalHistoryOnly(hashOf(1));
    EXPECT_EQ(raw.rows(both.arg("history_id, file_ready, file_id, key_hash is null")),
              (std::vector<QVariantList>{{0, 0, 0, 1}, {0, 0, 0, 1}}));
    EXPECT_EQ(raw.scalar("select history_id from History where file_hash = ?", {hashOf(2)}).toInt(), 0);
    EXPECT_EQ(raw.scalar("select timeStamp from History where file_hash = ?", {hashOf(2)}).toDouble(), 1000.0);
}

TEST_F(HistoryQueries, ExistenceAndDeletesByHash)
{
    savedClip(1, kHistory);
    savedClip(1, kFavourite);
    savedClip(2, kHistory);
    EXPECT_TRUE(DBKeeper::historyExist(hashOf(1)));
    EXPECT_FALSE(DBKeeper::historyExist(hashOf(3)));
    EXPECT_FALSE(DBKeeper::historyExist(std::nullopt));

    EXPECT_TRUE(DBKeeper::deleteClipItem(hashOf(1), kHistory));
    EXPECT_TRUE(DBKeeper::historyExist(hashOf(1)));  // the favourite copy is still there
    EXPECT_TRUE(DBKeeper::deleteClipItem(hashOf(1)));
    EXPECT_FALSE(DBKeeper::historyExist(hashOf(1)));
    EXPECT_TRUE(DBKeeper::deleteClipItem(hashOf(9)));  // no rows: still answers true
    EXPECT_EQ(rowCount(), 1);
}
