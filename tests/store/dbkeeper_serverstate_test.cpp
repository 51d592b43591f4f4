#include "historytestsupport.h"

#include "store/dbkeeper.h"

#include <gtest/gtest.h>

using namespace historytest;

namespace {

const QString kHistory = QStringLiteral("history");
const QString kFavourite = QStringLiteral("favourite");

HistoryModelPtr rowOf(int n, const QString& category = kHistory)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hashOf(n));
    clip->setCategory(category);
    if (!clip->isExist())
        return nullptr;
    clip->fetch();
    return clip;
}

}  // namespace

class ServerState : public HistoryDbTest {};

TEST_F(ServerState, WritesOnlyTheFieldsGivenAndTheSharedOnesToTheOtherRow)
{
    savedClip(1, kHistory, 500);
    savedClip(1, kFavourite, 500);
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set change_timestamp = 77, file_name = 'a.txt', "
                                        "deviceName = 'desk'")));

    DBKeeper::ServerState state;
    state.historyId = qint64(9);
    state.fileId = qint64(90);
    state.fileReady = qint64(1);
    state.type = QStringLiteral("text_txt+enc");
    state.keyHash = QString(64, u'a');
    state.fileName = QString();
    state.timestamp = qint64(400);
    ASSERT_TRUE(DBKeeper::applyServerState(hashOf(1), kHistory, state));

    const auto history = rowOf(1);
    EXPECT_EQ(history->history_id().toLongLong(), 9);
    EXPECT_EQ(history->file_id().toLongLong(), 90);
    EXPECT_EQ(history->file_ready().toLongLong(), 1);
    EXPECT_EQ(history->type(), QStringLiteral("text_txt+enc"));
    EXPECT_EQ(history->key_hash(), QString(64, u'a'));
    // Not given, empty, or older: the stored values stay, and so does the pending mark.
    EXPECT_EQ(history->device_name(), QStringLiteral("desk"));
    EXPECT_EQ(history->file_name(), QStringLiteral("a.txt"));
    EXPECT_EQ(history->timestamp().toLongLong(), 500);
    EXPECT_EQ(history->change_timestamp().toLongLong(), 77);
    const auto favourite = rowOf(1, kFavourite);
    EXPECT_EQ(favourite->history_id().toLongLong(), 9);
    EXPECT_EQ(favourite->key_hash(), QString(64, u'a'));
    // The type belongs to each row.
    EXPECT_EQ(favourite->type(), QStringLiteral("text_txt"));
}

TEST_F(ServerState, ARowDeletedMeanwhileIsNotBroughtBack)
{
    savedClip(2, kFavourite, 500);
    DBKeeper::ServerState state;
    state.historyId = qint64(9);
    state.favourite = qint64(-900);
    EXPECT_FALSE(DBKeeper::applyServerState(hashOf(2), kHistory, state));
    EXPECT_FALSE(rowOf(2));
    // Nothing at all was written: the favourite copy keeps its state.
    const auto favourite = rowOf(2, kFavourite);
    ASSERT_TRUE(favourite);
    EXPECT_EQ(favourite->history_id().toLongLong(), 0);
}

TEST_F(ServerState, TheUploadSelectionPassesOverTheHashesSetAside)
{
    for (int n : {1, 2, 3}) {
        auto clip = savedClip(n, kHistory, 1000 + n);
        clip->increase_change_count();
    }
    EXPECT_EQ(DBKeeper::getUnProcessHistory({})->file_hash(), hashOf(3));
    EXPECT_EQ(DBKeeper::getUnProcessHistory({hashOf(3)})->file_hash(), hashOf(2));
    EXPECT_EQ(DBKeeper::getUnProcessHistory({hashOf(3), hashOf(2), hashOf(1)}), nullptr);
}
