#include "historytestsupport.h"

#include "platform/fake/usernotificationsfake.h"
#include "store/clipbodysweeper.h"
#include "store/pathhelper.h"

#include <QDir>
#include <QFile>

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
