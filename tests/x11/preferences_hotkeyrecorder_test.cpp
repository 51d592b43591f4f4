#include "app/menucontroller.h"
#include "app/shortcutcontroller.h"
#include "platform/globalhotkey.h"
#include "store/dbfetcher.h"
#include "support/testenv.h"
#include "windows/preferences/generalviewcontroller.h"
#include "windows/preferences/hotkeyrecorder.h"
#include "windows/preferences/settingwindowcontroller.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "x11/hotkeyforeignclient.h"
#include "x11/pasteboardclients.h"
#include "x11/typingwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
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

TEST_F(PreferencesHotkeyRecorderX11, TabReachesTheRecorderWhichTheKeyboardStartsAndClearsAndEscapeClosesTheWindow)
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    auto* general = qobject_cast<GeneralViewController*>(window.currentViewController());
    ASSERT_NE(general, nullptr);
    HotkeyRecorder* recorder = general->shortcutView();
    ASSERT_TRUE(testenv::waitUntil([&] { return window.isActiveWindow() && recorder->isVisible(); }));

    // Tab walks the window until the recorder has the focus.
    for (int i = 0; i < 12 && !recorder->hasFocus(); ++i) {
        QWidget* before = QApplication::focusWidget();
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Tab")}));
        testenv::waitUntil([&] { return QApplication::focusWidget() != before; });
    }
    ASSERT_TRUE(recorder->hasFocus());
    EXPECT_FALSE(recorder->isRecording());

    // Space starts recording; a refused combination is named and recording goes on.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("space")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return recorder->isRecording(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+a")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !recorder->hintText().isEmpty(); }));
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(shortcuts->shortcut(), Shortcut::defaultShortcut());
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
    const Shortcut recorded{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    ASSERT_TRUE(testenv::waitUntil([&] { return shortcuts->shortcut() == recorded; }));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(GlobalHotkey::current().registeredShortcut(), recorded);

    // Backspace clears it: the hotkey is off.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("BackSpace")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !shortcuts->shortcut().has_value(); }));
    EXPECT_TRUE(ShortcutController::isShortcutOff());
    EXPECT_EQ(GlobalHotkey::current().registeredShortcut(), std::nullopt);

    // Tab goes on to the next control; Escape closes the window.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Tab")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return general->startupButton()->hasFocus(); }));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return !window.isVisible(); }));
}

TEST_F(PreferencesHotkeyRecorderX11, ACombinationAnotherProgramHoldsLeavesTheWorkingHotkeyInPlace)
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    auto* general = qobject_cast<GeneralViewController*>(window.currentViewController());
    ASSERT_NE(general, nullptr);
    HotkeyRecorder* recorder = general->shortcutView();
    ASSERT_TRUE(testenv::waitUntil([&] { return window.isActiveWindow() && recorder->isVisible(); }));
    ASSERT_EQ(GlobalHotkey::current().registeredShortcut(), Shortcut::defaultShortcut());

    const Shortcut held{38, Shortcut::ControlFlag | Shortcut::OptionFlag};  // Ctrl+Alt+J
    HotkeyForeignClient other;
    ASSERT_TRUE(other.isConnected());
    ASSERT_TRUE(other.grab(held));
    auto alerts = std::make_shared<AlertsFake>();
    Alerts::setCurrent(alerts);

    // The key press itself goes to the program that holds it, so the recorder is handed it.
    recorder->startRecording();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
    QApplication::sendEvent(recorder, &press);
    EXPECT_FALSE(recorder->isRecording());
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("组合键 Ctrl+Alt+J 已被其他程序占用")});
    EXPECT_EQ(shortcuts->shortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(ShortcutController::storedShortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(recorder->shortcutValue(), Shortcut::defaultShortcut());
    Alerts::setCurrent(nullptr);

    // The previous hotkey still opens the clip menu.
    QMenu* menu = MenuController::sharedInstance().mainMenu();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+super+v")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return menu->isVisible(); }));
    menu->hide();
    other.ungrabAll();
}
