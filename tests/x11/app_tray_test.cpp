#include "xembedtray.h"

#include "app/menupopup.h"
#include "app/statusbarcontroller.h"
#include "support/mainqueue.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"

#include <QEvent>
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

// Counts the mouse button releases the application delivers while it lives.
class ReleaseCounter : public QObject {
public:
    ReleaseCounter() { QCoreApplication::instance()->installEventFilter(this); }
    ~ReleaseCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        count += event->type() == QEvent::MouseButtonRelease;
        return QObject::eventFilter(watched, event);
    }
};

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
        const ReleaseCounter releases;
        ASSERT_TRUE(click(at, button));
        ASSERT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
        EXPECT_LE((menu.geometry().topLeft() - at).manhattanLength(), 2);
        // Letting go of the button over the menu chose nothing: once the release has been
        // handled, the menu is still open.
        ASSERT_TRUE(testenv::waitUntil([&] { return releases.count > 0; }));
        EXPECT_TRUE(menu.isVisible());
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(testenv::waitUntil([&] { return !menu.isVisible(); }));
    }
}

TEST_F(TrayX11, ATrayThatAppearsAfterTheAppStillGetsTheIcon)
{
    const auto controller = make();
    // The icon is shown, and all the start-up queued, before any tray is there to take it.
    ASSERT_TRUE(controller->trayItem()->isVisible());
    ASSERT_TRUE(testenv::waitForMainQueue());
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    XEmbedTray tray;
    ASSERT_TRUE(tray.isRunning());
    ASSERT_TRUE(docked(tray));
    const QPoint at = tray.firstIconCentre();
    ASSERT_TRUE(click(at, "1"));
    EXPECT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
}
