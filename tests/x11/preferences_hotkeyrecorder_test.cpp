#include "app/menucontroller.h"
#include "app/shortcutcontroller.h"
#include "platform/globalhotkey.h"
#include "store/dbfetcher.h"
#include "support/testenv.h"
#include "windows/preferences/generalviewcontroller.h"
#include "windows/preferences/hotkeyrecorder.h"
#include "windows/preferences/settingwindowcontroller.h"
#include "x11/pasteboardclients.h"
#include "x11/typingwindow.h"

#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

bool xdotool(const QStringList& arguments)
{
    const ClientRun run = runClient(QStringLiteral("xdotool"), arguments);
    return run.finished && run.exitCode == 0;
}

bool clickAt(QWidget* widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}

// The preferences window on the test's X server, its General pane driving a hotkey
// controller whose hotkey opens the clip menu.
class PreferencesHotkeyRecorderX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        DBFetcher::resetSharedInstance();
        SettingWindowController::resetSharedInstanceForTesting();
        shortcuts = std::make_unique<ShortcutController>([] { MenuController::sharedInstance().showMenu(); });
        PreferencesServices services = PreferencesServices::real();
        services.shortcuts = shortcuts.get();
        services.restartPoll = [] {};
        SettingWindowController& window = SettingWindowController::sharedInstance();
        window.setServices(services);
        window.showWindow();
        window.showPanel(0);
    }
    void TearDown() override
    {
        MenuController::sharedInstance().mainMenu()->hide();
        SettingWindowController::resetSharedInstanceForTesting();
        shortcuts.reset();
        GlobalHotkey::current().unregisterAllShortcuts();
        // Display connections and grabs go while the private X server still runs.
        GlobalHotkey::setCurrent(nullptr);
        DBFetcher::resetSharedInstance();
    }

    std::unique_ptr<ShortcutController> shortcuts;
};

}  // namespace

TEST_F(PreferencesHotkeyRecorderX11, ARecordedHotkeyOpensTheClipMenu)
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    auto* general = qobject_cast<GeneralViewController*>(window.currentViewController());
    ASSERT_NE(general, nullptr);
    HotkeyRecorder* recorder = general->shortcutView();
    ASSERT_TRUE(testenv::waitUntil([&] { return window.isActiveWindow() && recorder->isVisible(); }));
    ASSERT_EQ(GlobalHotkey::current().registeredShortcut(), Shortcut::defaultShortcut());
    QMenu* menu = MenuController::sharedInstance().mainMenu();

    // The current hotkey pressed while recording reaches the recorder, not the menu.
    ASSERT_TRUE(clickAt(recorder->field()));
    ASSERT_TRUE(testenv::waitUntil([&] { return recorder->isRecording() && recorder->hasFocus(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+super+v")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !recorder->isRecording(); }));
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(shortcuts->shortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(GlobalHotkey::current().registeredShortcut(), Shortcut::defaultShortcut());

    // A new hotkey, recorded with the keyboard.
    ASSERT_TRUE(clickAt(recorder->field()));
    ASSERT_TRUE(testenv::waitUntil([&] { return recorder->isRecording() && recorder->hasFocus(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
    const Shortcut recorded{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    ASSERT_TRUE(testenv::waitUntil([&] { return shortcuts->shortcut() == recorded; }));
    EXPECT_EQ(recorder->displayText(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_EQ(GlobalHotkey::current().registeredShortcut(), recorded);
    EXPECT_EQ(ShortcutController::storedShortcut(), recorded);

    // From another window, the new hotkey opens the clip menu; the old one no longer does.
    QWidget other;
    QLineEdit* field = showFocusedField(other);
    ASSERT_NE(field, nullptr);
    // The old combination is an ordinary key press again: it types into the field.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+super+v")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return field->text() == QStringLiteral("V"); })) << field->text().toStdString();
    EXPECT_FALSE(menu->isVisible());
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return menu->isVisible(); }));
    menu->hide();
}
