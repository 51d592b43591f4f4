#include "historytestsupport.h"

#include "store/historymodel.h"
#include "store/tombstones.h"

#include <gtest/gtest.h>

using namespace historytest;

namespace {

class TombstonesTest : public HistoryDbTest {};

const QString kAlice = QStringLiteral("17");
const QString kBob = QStringLiteral("18");

// The full layout of the build before tombstones, with a clip the service holds.
const char* kSixteenColumns =
    "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , "
    "file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, "
    "local_file_ok INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0, "
    "category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0, key_hash TEXT DEFAULT NULL)";

HistoryModelPtr clipWith(int n, qint64 historyId, const QString& type = QStringLiteral("text_txt"), bool secret = false)
{
    auto clip = savedClip(n, QStringLiteral("history"), 1000 + n, type);
    clip->setHistory_id(QVariant(historyId));
    clip->setFile_id(QVariant(historyId));
    clip->save();
    if (secret)
        clip->signSecert(true);
    return clip;
}

}  // namespace

// A file of the layout before tombstones opens with its rows as they were and gains the table;
// the columns older builds read are unchanged.
TEST_F(TombstonesTest, AnOlderFileOpensAndGainsTheTable)
{
    {
        RawDb raw(dbPath());
        ASSERT_TRUE(raw.exec(kSixteenColumns)) << raw.lastError().toStdString();
        ASSERT_TRUE(raw.exec("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category)"));
        ASSERT_TRUE(raw.exec(QStringLiteral("insert into History (content, file_hash, type, history_id) values "
                                            "('kept', '%1', 'text_txt', 41)")
                                 .arg(hashOf(1))));
    }
    HistoryModel::initialize();
    {
        RawDb raw(dbPath());
        EXPECT_EQ(raw.scalar("select count(*) from sqlite_master where type = 'table' and name = 'Tombstone'").toInt(), 1);
        EXPECT_EQ(raw.rows("select content, history_id from History"), (std::vector<QVariantList>{{"kept", 41}}));
    }
    ASSERT_TRUE(Tombstones::deleteClip(hashOf(1), kAlice));
    const auto all = Tombstones::all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].fileHash, hashOf(1));
    EXPECT_EQ(all[0].historyId, 41);
    EXPECT_EQ(all[0].userId, kAlice);
}

// Which deletes leave a tombstone: those the service may hold, for a login.
TEST_F(TombstonesTest, ADeleteLeavesATombstoneOnlyWhenTheServiceMayHoldTheClip)
{
    struct Case {
        const char* name;
        qint64 historyId;
        QString type;
        bool secret;
        std::optional<QString> user;
        std::optional<qint64> tombstoneId;
    };
    const std::vector<Case> cases{
        {"pushed", 7, QStringLiteral("text_txt+enc"), false, kAlice, 7},
        {"its post may be on its way", 0, QStringLiteral("text_txt"), false, kAlice, 0},
        {"secret, never sent", 0, QStringLiteral("text_txt"), true, kAlice, std::nullopt},
        {"a kind that is not synced", 0, QStringLiteral("plugin_x"), false, kAlice, std::nullopt},
        {"nobody logged in", 7, QStringLiteral("text_txt"), false, std::nullopt, std::nullopt},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++n;
        clipWith(n, c.historyId, c.type, c.secret);
        ASSERT_TRUE(Tombstones::deleteClip(hashOf(n), c.user));
        RawDb raw(dbPath());
        EXPECT_EQ(raw.scalar(QStringLiteral("select count(*) from History where file_hash = '%1'").arg(hashOf(n))).toInt(), 0);
        std::optional<qint64> found;
        for (const Tombstone& t : Tombstones::all())
            if (t.fileHash == hashOf(n))
                found = t.historyId;
        EXPECT_EQ(found, c.tombstoneId);
    }
}

// A tombstone belongs to its account, learns the id the service names, and goes only when
// the service confirms that id (or when the clip is copied again).
TEST_F(TombstonesTest, ATombstoneIsSentOnlyForItsAccountAndForgottenOnlyForItsId)
{
    clipWith(1, 0);
    ASSERT_TRUE(Tombstones::deleteClip(hashOf(1), kAlice));
    // Without an id there is nothing to send yet.
    EXPECT_FALSE(Tombstones::nextToSend(kAlice, {}));

    EXPECT_FALSE(Tombstones::adoptId(hashOf(1), 30, kBob, false));
    EXPECT_TRUE(Tombstones::adoptId(hashOf(1), 30, kAlice, false));
    EXPECT_FALSE(Tombstones::nextToSend(kBob, {}));
    ASSERT_TRUE(Tombstones::nextToSend(kAlice, {}));
    EXPECT_EQ(Tombstones::nextToSend(kAlice, {})->historyId, 30);
    EXPECT_FALSE(Tombstones::nextToSend(kAlice, {hashOf(1)}));

    // Re-posted elsewhere meanwhile: the confirmation of the old id leaves the new one owed.
    EXPECT_TRUE(Tombstones::adoptId(hashOf(1), 31, kAlice, false));
    Tombstones::forget(hashOf(1), 30, kAlice);
    ASSERT_TRUE(Tombstones::nextToSend(kAlice, {}));
    // The service no longer has 31: kept, without an id, until it names another.
    Tombstones::dropId(hashOf(1), 31, kAlice);
    EXPECT_FALSE(Tombstones::nextToSend(kAlice, {}));
    ASSERT_EQ(Tombstones::all().size(), 1u);
    EXPECT_TRUE(Tombstones::adoptId(hashOf(1), 32, kAlice, false));
    Tombstones::forget(hashOf(1), 32, kAlice);
    EXPECT_TRUE(Tombstones::all().empty());

    // Copied again before its delete went, with or without an id: the tombstone is moot.
    clipWith(2, 50);
    clipWith(3, 0);
    ASSERT_TRUE(Tombstones::deleteClip(hashOf(2), kAlice));
    ASSERT_TRUE(Tombstones::deleteClip(hashOf(3), kAlice));
    // Another account's delete of the same clip (its post reply named the id).
    ASSERT_TRUE(Tombstones::adoptId(hashOf(2), 60, kBob, true));
    ASSERT_EQ(Tombstones::all().size(), 3u);
    clipWith(2, 0);
    clipWith(3, 0);
    EXPECT_FALSE(Tombstones::nextToSend(kAlice, {}));
    ASSERT_EQ(Tombstones::all().size(), 1u);
    EXPECT_EQ(Tombstones::all()[0].userId, kBob);
}
