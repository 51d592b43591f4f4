#include "app/menupopup.h"
#include "platform/dispatch.h"
#include "platform/linux/systempasteboard.h"
#include "platform/x11/globalhotkeyx11.h"
#include "platform/x11/x11pastekeystroke.h"
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

bool xdotool(const QStringList& arguments, QByteArray* output = nullptr)
{
    const ClientRun run = runClient(QStringLiteral("xdotool"), arguments);
    if (output)
        *output = run.output.trimmed();
    return run.finished && run.exitCode == 0;
}

// The X window that has the input focus now.
QByteArray focusedWindow()
{
    QByteArray id;
    xdotool({QStringLiteral("getwindowfocus")}, &id);
    return id;
}

class MenuPopupX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        field = showFocusedField(window);
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(testenv::waitUntil([&] { return focusedWindow() == QByteArray::number(window.winId()); }));
        fieldWindow = focusedWindow();

        menu.addAction(QStringLiteral("alpha"));
        QAction* beta = menu.addAction(QStringLiteral("beta"));
        QObject::connect(beta, &QAction::triggered, [this] {
            pasteboard.writeString(QStringLiteral("pasted beta"));
            dispatch::mainAsync([this] { keystroke.postCommandV(); });
        });
    }

    QWidget window;
    QLineEdit* field = nullptr;
    QByteArray fieldWindow;
    QMenu menu;
    SystemPasteboard pasteboard;
    X11PasteKeystroke keystroke;
    GlobalHotkeyX11 monitor;
};

}  // namespace

TEST_F(MenuPopupX11, TheHotkeyPopsTheMenuAtThePointerAndTheChosenItemPastesIntoTheFocusedField)
{
    ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QStringLiteral("400"), QStringLiteral("300")}));
    ASSERT_EQ(monitor.registerShortcut(Shortcut::defaultShortcut(), [this] { MenuPopup::popUp(&menu); }),
              GlobalHotkey::Status::Registered);
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+super+v")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
    EXPECT_LE((menu.geometry().topLeft() - QPoint(400, 300)).manhattanLength(), 2);
    // The menu has the keyboard but not the focus: the field's window keeps it.
    EXPECT_EQ(focusedWindow(), fieldWindow);

    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !menu.isVisible(); }));
    EXPECT_TRUE(testenv::waitUntil([&] { return field->text() == QStringLiteral("pasted beta"); }))
        << field->text().toStdString();
    EXPECT_EQ(focusedWindow(), fieldWindow);
}

TEST_F(MenuPopupX11, EscapeClosesTheMenuAndGivesTheKeyboardBack)
{
    MenuPopup::popUp(&menu, QPoint(100, 100));
    ASSERT_TRUE(testenv::waitUntil([&] { return menu.isVisible(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !menu.isVisible(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("typed")}));
    EXPECT_TRUE(testenv::waitUntil([&] { return field->text() == QStringLiteral("typed"); })) << field->text().toStdString();
}
