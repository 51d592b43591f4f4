#include "app/statusbarcontroller.h"
#include "support/mainqueue.h"
#include "support/testenv.h"
#include "sync/progressmanager.h"

#include <QMenu>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class StatusBarTest : public ::testing::Test {
protected:
    std::shared_ptr<StatusBarController> make()
    {
        return StatusBarController::create({[this] {
                                                ++menuAsked;
                                                return &menu;
                                            },
                                            [this] { ++shown; }});
    }
    QMenu menu;
    int menuAsked = 0;
    int shown = 0;
};

void report(qint64 completed, qint64 total)
{
    ProgressManager::sharedInstance().progress({completed, total}, QStringLiteral("0123456789abcdef0123456789abcdef"));
}

}  // namespace

TEST_F(StatusBarTest, TheSpinnerRunsUntilADownloadReportsExactlyOne)
{
    const auto controller = make();
    EXPECT_FALSE(controller->isLoading());

    report(999, 1000);
    ASSERT_TRUE(testenv::waitUntil([&] { return controller->isLoading(); }));
    // Animated: the frames move on while it spins.
    const int first = controller->currentFrame();
    EXPECT_GE(first, 0);
    EXPECT_TRUE(testenv::waitUntil([&] { return controller->currentFrame() != first; }));

    report(1000, 1000);
    ASSERT_TRUE(testenv::waitUntil([&] { return !controller->isLoading(); }));
    EXPECT_EQ(controller->currentFrame(), -1);

    report(1, 2);
    ASSERT_TRUE(testenv::waitUntil([&] { return controller->isLoading(); }));

    // A failed download, or one of unknown length, ends without reaching 1.0.
    report(10, -1);
    report(0, 0);
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(controller->isLoading());
    ProgressManager::sharedInstance().progressEnded(QStringLiteral("0123456789abcdef0123456789abcdef"));
    ASSERT_TRUE(testenv::waitUntil([&] { return !controller->isLoading(); }));
}

TEST_F(StatusBarTest, ProgressValuesOtherThanExactlyOneSpin)
{
    const auto controller = make();
    const float spinning[] = {0.0f, 0.5f, 0.999f, 0.99999994f, 1.0000001f, -1.0f, std::nanf("")};
    for (float value : spinning) {
        SCOPED_TRACE(value);
        controller->setProgress(value, false);
        EXPECT_TRUE(controller->isLoading());
        controller->setProgress(1.0f, true);
        EXPECT_FALSE(controller->isLoading());
    }
}

TEST_F(StatusBarTest, ActivatingTheIconShowsTheClipMenu)
{
    const auto controller = make();
    // The menu is there before the icon.
    EXPECT_EQ(menuAsked, 1);
    emit controller->trayItem()->activated(QSystemTrayIcon::Trigger);
    emit controller->trayItem()->activated(QSystemTrayIcon::Context);
    emit controller->trayItem()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(shown, 3);
    // The first click of a double click has opened it already.
    emit controller->trayItem()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(shown, 3);
}

TEST_F(StatusBarTest, WithoutASystemTrayTheIconStillExistsWithItsImage)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    const auto controller = make();
    EXPECT_TRUE(controller->trayItem()->isVisible());
    const QIcon icon = StatusBarController::taskIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(22, 22).isNull());
    controller->showMessage(QStringLiteral("标题"), QStringLiteral("no tray: logged"));
}

TEST_F(StatusBarTest, AGoneControllerGetsNoReports)
{
    std::weak_ptr<StatusBarController> weak = make();
    EXPECT_TRUE(weak.expired());
    report(1, 2);
    // The report reached the main queue and found nobody there.
    EXPECT_TRUE(testenv::waitForMainQueue());
}
