#include "xembedtray.h"

#include "app/menupopup.h"
#include "app/statusbarcontroller.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>
#include <QMenu>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

bool xdotool(const QStringList& arguments)
{
    const ClientRun run = runClient(QStringLiteral("xdotool"), arguments);
    return run.finished && run.exitCode == 0;
}

class TrayX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // The tray of an earlier test is gone once Qt has seen it go; until then Qt would dock
        // a new icon into that window.
        ASSERT_TRUE(testenv::waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
        menu.addAction(QStringLiteral("first"));
        menu.addAction(QStringLiteral("second"));
    }
    std::shared_ptr<StatusBarController> make()
    {
        return StatusBarController::create({[this] { return &menu; }, [this] { MenuPopup::popUp(&menu); }});
    }
    // One icon in the tray, there for a while.
    static bool docked(const XEmbedTray& tray)
    {
        return testenv::waitUntil([&] { return tray.dockedIcons() == 1 && tray.msSinceChange() > 300; });
    }
    bool click(const QPoint& at, const char* button)
    {
        return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                        QStringLiteral("click"), QString::fromLatin1(button)});
    }
    QMenu menu;
};

}  // namespace

TEST_F(TrayX11, TheIconDocksInThePanelsTrayAndAClickOpensTheMenuAtThePointer)
{
    XEmbedTray tray;
    ASSERT_TRUE(tray.isRunning());
    ASSERT_TRUE(testenv::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    const auto controller = make();
    ASSERT_TRUE(docked(tray));

    // The left button, and the right one that asks for a context menu.
    for (const char* button : {"1", "3"}) {
        SCOPED_TRACE(button);
        const QPoint at = tray.firstIconCentre();
        ASSERT_TRUE(click(at, button));
        ASSERT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
        EXPECT_LE((menu.geometry().topLeft() - at).manhattanLength(), 2);
        // Letting go of the button over the menu chose nothing: it stays open.
        testenv::spin(100ms);
        EXPECT_TRUE(menu.isVisible());
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(testenv::waitUntil([&] { return !menu.isVisible(); }));
    }
}

TEST_F(TrayX11, ATrayThatAppearsAfterTheAppStillGetsTheIcon)
{
    const auto controller = make();
    testenv::spin(50ms);
    XEmbedTray tray;
    ASSERT_TRUE(tray.isRunning());
    ASSERT_TRUE(docked(tray));
    const QPoint at = tray.firstIconCentre();
    ASSERT_TRUE(click(at, "1"));
    EXPECT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
}
