#include "app/appdelegate.h"
#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "support/appprocess.h"
#include "support/mainqueue.h"
#include "support/testenv.h"
#include "x11/typingwindow.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

std::optional<QByteArray> xdotool(const QStringList& arguments)
{
    const ClientRun run = runClient(QStringLiteral("xdotool"), arguments);
    if (!run.finished || run.exitCode != 0)
        return std::nullopt;
    return run.output.trimmed();
}

HistoryModelPtr waitForRow(const QString& text)
{
    HistoryModelPtr found;
    testenv::waitUntil(
        [&] {
            auto clip = std::make_shared<HistoryModel>();
            clip->setFile_hash(md5HexOfString(text));
            if (!clip->isExist())
                return false;
            clip->fetch();
            found = clip;
            return true;
        },
        10s);
    return found;
}

// The whole start-up of the application in this process, on the test's X server, while the
// user types in a window of ours that is not the menu.
class AppHotkeyMenuX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        app = std::make_unique<AppInThisProcess>();
        field = showFocusedField(window);
        ASSERT_NE(field, nullptr);
        app->launch();
        ClipController::sharedInstance().setPollInterval(50ms);
    }
    void TearDown() override
    {
        if (app && app->launched())
            ClipController::sharedInstance().setPollInterval(1h);
        app.reset();
    }

    QWidget window;
    QLineEdit* field = nullptr;
    std::unique_ptr<AppInThisProcess> app;
};

}  // namespace

TEST_F(AppHotkeyMenuX11, TheHotkeyOpensTheClipMenuAndAChosenClipPastesIntoTheUsersField)
{
    ASSERT_TRUE(xclipCopy("the older clip"));
    const HistoryModelPtr older = waitForRow(QStringLiteral("the older clip"));
    ASSERT_TRUE(older);
    ASSERT_TRUE(xclipCopy("the newer clip"));
    ASSERT_TRUE(waitForRow(QStringLiteral("the newer clip")));
    ClipController::sharedInstance().waitForCaptures();
    // The start-up care has ended, and with it any rebuild it held back; the rebuilds the
    // captures asked for have run: none comes to drop the item added below.
    ASSERT_TRUE(testenv::waitUntil([] { return !AppDelegate::startUpCareRunning(); }, 60s));
    ASSERT_TRUE(testenv::waitForMainQueue());

    // The clip's item, as the clip menu makes one for each clip.
    QMenu* menu = MenuController::sharedInstance().mainMenu();
    QAction* item = menu->addAction(older->content().value_or(QString()));
    QObject::connect(item, &QAction::triggered, [older] { MenuController::sharedInstance().clickIteam(older); });

    const auto focused = xdotool({QStringLiteral("getwindowfocus")});
    ASSERT_TRUE(focused);
    ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QStringLiteral("500"), QStringLiteral("400")}));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+super+v")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return menu->isVisible(); }));
    EXPECT_LE((menu->geometry().topLeft() - QPoint(500, 400)).manhattanLength(), 2);
    EXPECT_EQ(xdotool({QStringLiteral("getwindowfocus")}), focused);

    const QPoint at = menu->mapToGlobal(menu->actionGeometry(item).center());
    ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !menu->isVisible(); }));
    EXPECT_TRUE(testenv::waitUntil([&] { return field->text() == QStringLiteral("the older clip"); }))
        << field->text().toStdString();
    EXPECT_EQ(xdotool({QStringLiteral("getwindowfocus")}), focused);
}
