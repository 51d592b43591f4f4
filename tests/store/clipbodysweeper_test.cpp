#include "historytestsupport.h"

#include "platform/fake/usernotificationsfake.h"
#include "store/clipbodysweeper.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"

#include <QDir>
#include <QFile>

#include <future>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

using namespace historytest;
using namespace std::chrono_literals;

namespace {

void put(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("body");
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class ClipBodySweeperTest : public HistoryDbTest {
protected:
    void TearDown() override
    {
        HistoryDbTest::TearDown();
        DBFetcher::setTiming(DBFetcher::Timing{});
        UserNotifications::setCurrent(nullptr);
    }

    // Bodies of a history clip (1), a favourite-only clip (2), two bodies without rows (3 in
    // files, 4 in zips), and names that are no hash.
    void makeBodies()
    {
        savedClip(1);
        savedClip(2, QStringLiteral("favourite"));
        for (int n : {1, 2, 3})
            put(PathHelper::getBaseFilePath(hashOf(n)));
        for (int n : {1, 4})
            put(PathHelper::getZipsFilePath(hashOf(n)));
        put(PathHelper::getBaseFilePath(QStringLiteral("notes.txt")));
        put(PathHelper::getBaseFilePath(hashOf(5).toUpper().replace('0', 'A')));
        put(PathHelper::getZipsFilePath(hashOf(6) + QStringLiteral(".tmp")));
    }
};

}  // namespace

TEST_F(ClipBodySweeperTest, BodiesWithoutARowOfEitherCategoryAreRemovedAndNothingElse)
{
    makeBodies();
    const QStringList otherFiles = {hashOf(5).toUpper().replace('0', 'A'), QStringLiteral("notes.txt")};
    EXPECT_EQ(ClipBodySweeper::removeBodiesWithoutRows(), 2);
    EXPECT_EQ(namesIn(PathHelper::getBaseFilePath()), (QStringList{hashOf(1), hashOf(2)} + otherFiles));
    EXPECT_EQ(namesIn(PathHelper::getZipsFilePath()), (QStringList{hashOf(1), hashOf(6) + QStringLiteral(".tmp")}));
    // A second pass finds nothing more.
    EXPECT_EQ(ClipBodySweeper::removeBodiesWithoutRows(), 0);
}

TEST_F(ClipBodySweeperTest, NothingIsRemovedWhileTheHistoryIsUnavailable)
{
    makeBodies();
    DBFetcher::resetSharedInstance();
    DBFetcher::setTiming({50ms, 1h, 1h});
    UserNotifications::setCurrent(std::make_shared<UserNotificationsFake>());
    RawDb holder(dbPath());
    ASSERT_TRUE(holder.exec("PRAGMA locking_mode=EXCLUSIVE"));
    ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE")) << holder.lastError().toStdString();
    const QStringList files = namesIn(PathHelper::getBaseFilePath());
    const QStringList zips = namesIn(PathHelper::getZipsFilePath());

    EXPECT_EQ(ClipBodySweeper::removeBodiesWithoutRows(), 0);
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());
    EXPECT_EQ(namesIn(PathHelper::getBaseFilePath()), files);
    EXPECT_EQ(namesIn(PathHelper::getZipsFilePath()), zips);
    holder.exec("ROLLBACK");
}

// A history whose header was overwritten cannot be read: it goes aside with the bodies its
// rows name, the user is told where, and neither this start's sweep nor the next one's takes
// those bodies for leftovers.
TEST_F(ClipBodySweeperTest, ADamagedHistoryKeepsItsBodiesWhereTheUserIsTold)
{
    auto notices = std::make_shared<UserNotificationsFake>();
    UserNotifications::setCurrent(notices);
    QStringList hashes;
    for (const QString& text : {QStringLiteral("first clip"), QStringLiteral("second clip"), QStringLiteral("third clip")}) {
        HistoryModel clip;
        clip.setContent(text);
        clip.setFile_hash(md5HexOfString(text));
        clip.setTimestamp(QVariant(qint64(1000)));
        clip.setType(hashes.isEmpty() ? QStringLiteral("text_txt+zip+enc") : QStringLiteral("text_txt+enc"));
        ClipFileManager::sharedInstance().saveClipData(text.toUtf8(), clip);
        clip.save();
        hashes << *clip.file_hash();
    }
    ASSERT_EQ(DBKeeper::getAllHistory().size(), 3);
    DBFetcher::resetSharedInstance();
    {
        QFile file(dbPath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(100, '\x5a'));
    }

    // What a start does: the history opens, then the sweep runs.
    HistoryModel::initialize();
    EXPECT_EQ(ClipBodySweeper::removeBodiesWithoutRows(), 0);
    EXPECT_TRUE(DBKeeper::getAllHistory().isEmpty());

    const QStringList aside =
        QDir(libraryDir()).entryList({QStringLiteral("clipDB.sqlite.corrupt-*-bodies")}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1);
    const QString bodies = libraryDir() + QLatin1Char('/') + aside.first();
    ASSERT_EQ(notices->count(), 1);
    const UserNotification notice = notices->delivered().first();
    EXPECT_FALSE(notice.title.isEmpty());
    EXPECT_TRUE(notice.informativeText.contains(bodies)) << notice.informativeText.toStdString();
    EXPECT_TRUE(notice.informativeText.contains(bodies.chopped(QStringLiteral("-bodies").size()) + QStringLiteral("，")))
        << "names the old history file";
    for (const QString& hash : hashes)
        EXPECT_TRUE(QFile::exists(bodies + QStringLiteral("/files/") + hash)) << hash.toStdString();
    EXPECT_TRUE(QFile::exists(bodies + QStringLiteral("/zips/") + hashes.first()));

    // The next start sweeps the new history only, and says nothing more.
    DBFetcher::resetSharedInstance();
    HistoryModel::initialize();
    ClipBodySweeper::removeBodiesWithoutRows();
    for (const QString& hash : hashes)
        EXPECT_TRUE(QFile::exists(bodies + QStringLiteral("/files/") + hash)) << hash.toStdString();
    EXPECT_EQ(notices->count(), 1);
}

// The rows are read a block at a time: other database work, as the main thread's, runs
// between the blocks while the sweep goes on, and rows of every block keep their bodies.
TEST_F(ClipBodySweeperTest, OtherDatabaseWorkRunsBetweenTheSweepsReads)
{
    const int rows = 2 * ClipBodySweeper::kRowsPerBlock + 10;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("BEGIN"));
        for (int i = 1; i <= rows; ++i)
            DBFetcher::executeUpdate(db, QStringLiteral("insert into History (content, file_hash) values ('c', ?)"),
                                     {hashOf(i)});
        DBFetcher::executeUpdate(db, QStringLiteral("COMMIT"));
    });
    for (int n : {1, rows, rows + 1})
        put(PathHelper::getBaseFilePath(hashOf(n)));

    std::promise<void> paused, resume;
    std::shared_future<void> resumed = resume.get_future().share();
    bool first = true;
    int removed = -1;
    std::thread sweep([&] {
        removed = ClipBodySweeper::removeBodiesWithoutRows([&] {
            if (!std::exchange(first, false))
                return;
            paused.set_value();
            resumed.wait();
        });
    });
    paused.get_future().wait();
    // The sweep is under way with no block open: this one runs now.
    EXPECT_EQ(DBKeeper::getAllHistory().size(), 30);
    resume.set_value();
    sweep.join();

    EXPECT_EQ(removed, 1);
    EXPECT_EQ(namesIn(PathHelper::getBaseFilePath()), (QStringList{hashOf(1), hashOf(rows)}));
}
