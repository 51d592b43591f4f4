// Capture on the pasteboard's own announcement of a change, with the poll too slow to matter;
// one capture a burst; one commit a capture; a history locked at start.

#include "app/clipfixture.h"

#include "platform/fake/usernotificationsfake.h"

#include <QFile>

#include <cstring>

using namespace cliptest;
using namespace std::chrono_literals;

namespace {

class ClipChangeSignalTest : public ClipTest {
protected:
    void TearDown() override
    {
        ClipTest::TearDown();
        DBFetcher::setTiming(DBFetcher::Timing{});
        UserNotifications::setCurrent(nullptr);
    }
    // The watcher with the poll slower than any test runs.
    ClipController& slowWatcher()
    {
        ClipController& controller = watcher();
        controller.setPollInterval(std::chrono::hours(1));
        return controller;
    }
    bool waitForRow(const QString& text)
    {
        return testenv::waitUntil([&] { return row(md5HexOfString(text)) != nullptr; });
    }
};

quint32 bigEndian(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

// Commits in the history's write-ahead log since it was last reset: frames of the log's
// current salt that end a transaction.
int commitsInLog()
{
    QFile file(historytest::dbPath() + QStringLiteral("-wal"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wal = file.readAll();
    if (wal.size() < 32)
        return 0;
    const quint32 pageSize = bigEndian(wal, 8);
    const quint32 salt1 = bigEndian(wal, 16);
    const quint32 salt2 = bigEndian(wal, 20);
    int commits = 0;
    for (qsizetype at = 32; at + 24 + qsizetype(pageSize) <= wal.size(); at += 24 + pageSize) {
        if (bigEndian(wal, at + 8) != salt1 || bigEndian(wal, at + 12) != salt2)
            break;
        if (bigEndian(wal, at + 4) != 0)
            ++commits;
    }
    return commits;
}

}  // namespace

TEST_F(ClipChangeSignalTest, AnAnnouncedChangeIsCapturedWithoutWaitingForThePoll)
{
    ClipController& controller = slowWatcher();
    const qint64 before = controller.lastChangedCount();
    copyText(QStringLiteral("captured on the announcement"));
    ASSERT_TRUE(waitForRow(QStringLiteral("captured on the announcement")));
    EXPECT_EQ(controller.lastChangedCount(), pasteboard->changeCount());
    EXPECT_NE(controller.lastChangedCount(), before);
}

TEST_F(ClipChangeSignalTest, ABurstOfChangesGivesOneCaptureOfTheLastContent)
{
    slowWatcher();
    const int reads = pasteboard->snapshotCount();
    // Another program rewrites the clipboard several times in one go.
    for (int i = 1; i <= 5; ++i)
        copyText(QStringLiteral("burst step %1").arg(i));
    ASSERT_TRUE(waitForRow(QStringLiteral("burst step 5")));
    // A later, separate copy is captured too; by then anything the burst left would have run.
    copyText(QStringLiteral("after the burst"));
    ASSERT_TRUE(waitForRow(QStringLiteral("after the burst")));
    watcher().waitForCaptures();
    EXPECT_EQ(pasteboard->snapshotCount() - reads, 2) << "one read for the burst, one for the copy after it";
    EXPECT_EQ(rowCount(), 2);
    for (int i = 1; i <= 4; ++i)
        EXPECT_FALSE(row(md5HexOfString(QStringLiteral("burst step %1").arg(i))));
}

TEST_F(ClipChangeSignalTest, OurOwnWriteWithRecordingOffIsStillDroppedOnce)
{
    ClipController& controller = slowWatcher();
    controller.sendToClipboard(QStringLiteral("written back unrecorded"), false);
    ASSERT_TRUE(testenv::waitUntil([&] {
        controller.waitForCaptures();
        return controller.lastChangedCount() == pasteboard->changeCount() && !controller.skiped();
    }));
    EXPECT_EQ(rowCount(), 0);
    // The same text copied again by someone else is a copy.
    copyText(QStringLiteral("written back unrecorded"));
    EXPECT_TRUE(waitForRow(QStringLiteral("written back unrecorded")));
}

// The row, its time and its pending mark of one capture reach the disk in one commit.
TEST_F(ClipChangeSignalTest, OneCaptureIsOneCommit)
{
    watcher();
    copyText(QStringLiteral("first, to set the table up"));
    poll();
    ASSERT_TRUE(row(md5HexOfString(QStringLiteral("first, to set the table up"))));
    for (const QString& text : {QStringLiteral("a new clip"), QStringLiteral("first, to set the table up")}) {
        SCOPED_TRACE(text.toStdString());
        const int before = commitsInLog();
        ASSERT_GT(before, 0) << "the history keeps a write-ahead log";
        copyText(text);
        poll();
        EXPECT_EQ(commitsInLog() - before, 1);
        const HistoryModelPtr clip = row(md5HexOfString(text));
        ASSERT_TRUE(clip);
        EXPECT_GT(clip->change_timestamp().toLongLong(), 0);
    }
}

// Another process held the history when the app started: captures resume by themselves once
// it lets go, and the user hears of it once.
TEST_F(ClipChangeSignalTest, ACaptureAfterALockAtStartIsGoneStoresItsClip)
{
    historytest::savedClip(1);
    DBFetcher::resetSharedInstance();
    DBFetcher::setTiming({50ms, 100ms, 200ms});
    auto notifications = std::make_shared<UserNotificationsFake>();
    UserNotifications::setCurrent(notifications);
    auto holder = std::make_unique<historytest::RawDb>(historytest::dbPath());
    ASSERT_TRUE(holder->exec("PRAGMA locking_mode=EXCLUSIVE"));
    ASSERT_TRUE(holder->exec("BEGIN EXCLUSIVE"));

    watcher();
    copyText(QStringLiteral("copied while locked"));
    poll();
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
    EXPECT_EQ(notifications->count(), 1);

    holder->exec("ROLLBACK");
    holder.reset();
    int n = 0;
    QString text;
    ASSERT_TRUE(testenv::waitUntil([&] {
        text = QStringLiteral("copied after the lock, try %1").arg(++n);
        copyText(text);
        poll();
        return row(md5HexOfString(text)) != nullptr;
    }));
    EXPECT_TRUE(row(historytest::hashOf(1)));
    EXPECT_EQ(notifications->count(), 1);
}
