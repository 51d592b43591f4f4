#include "hotkeyforeignclient.h"

#include "platform/dispatch.h"
#include "platform/x11/globalhotkeyx11.h"
#include "support/testenv.h"

#include <QGuiApplication>
#include <QProcess>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Presses keys through XTest, as the user would on the keyboard.
void press(const QString& keys)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}), 0) << keys.toStdString();
}

struct Counter {
    int presses = 0;
    bool allOnMainThread = true;
    GlobalHotkey::Action action()
    {
        return [this] {
            ++presses;
            allOnMainThread = allOnMainThread && dispatch::isMainThread();
        };
    }
    // X delivers key events in order: once a later press has arrived, an earlier one that was
    // going to fire would have fired too.
    bool waitFor(int count) { return testenv::waitUntil([&] { return presses >= count; }); }
};

const Shortcut kDefault = Shortcut::defaultShortcut();

class X11Hotkey : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")); }
    GlobalHotkeyX11 monitor;
    Counter counter;
};

}  // namespace

TEST_F(X11Hotkey, TheDefaultFiresOnTheMainThreadForShiftSuperV)
{
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    EXPECT_EQ(monitor.registeredShortcut(), kDefault);
    press(QStringLiteral("shift+super+v"));
    ASSERT_TRUE(counter.waitFor(1));
    EXPECT_TRUE(counter.allOnMainThread);

    // Other modifiers on the same key are not the hotkey.
    press(QStringLiteral("super+v"));
    press(QStringLiteral("ctrl+shift+v"));
    press(QStringLiteral("shift+super+v"));
    // The server delivers the presses in order: once the last one is counted, the two before
    // it have been seen and let through.
    ASSERT_TRUE(counter.waitFor(2));
    EXPECT_EQ(counter.presses, 2);
}

TEST_F(X11Hotkey, FiresWithCapsLockOrNumLockOn)
{
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("shift+super+v"));
    ASSERT_TRUE(counter.waitFor(1));
    press(QStringLiteral("Num_Lock"));
    press(QStringLiteral("shift+super+v"));
    ASSERT_TRUE(counter.waitFor(2));
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("shift+super+v"));
    ASSERT_TRUE(counter.waitFor(3));
    press(QStringLiteral("Num_Lock"));
}

TEST_F(X11Hotkey, AnotherShortcutReplacesTheFirst)
{
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    Counter second;
    // (Not Ctrl+Alt+F5: the X keyboard keeps that for switching consoles.)
    const Shortcut ctrlAltK{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    ASSERT_EQ(monitor.registerShortcut(ctrlAltK, second.action()), GlobalHotkey::Status::Registered);
    press(QStringLiteral("shift+super+v"));
    press(QStringLiteral("ctrl+alt+k"));
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_EQ(counter.presses, 0);
    // The old combination is free again for other programs.
    HotkeyForeignClient other;
    EXPECT_TRUE(other.grab(kDefault));
}

TEST_F(X11Hotkey, UnregisteringStopsTheActionAndFreesTheKey)
{
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    monitor.unregisterAllShortcuts();
    EXPECT_FALSE(monitor.registeredShortcut());
    press(QStringLiteral("shift+super+v"));

    Counter later;
    const Shortcut superF1{122, Shortcut::CommandFlag};
    ASSERT_EQ(monitor.registerShortcut(superF1, later.action()), GlobalHotkey::Status::Registered);
    press(QStringLiteral("super+F1"));
    ASSERT_TRUE(later.waitFor(1));
    EXPECT_EQ(counter.presses, 0);

    monitor.unregisterAllShortcuts();
    HotkeyForeignClient other;
    EXPECT_TRUE(other.grab(kDefault));
    EXPECT_TRUE(other.grab(superF1, true));
}

TEST_F(X11Hotkey, ACombinationAnotherProgramHoldsIsReportedTakenAndLeavesNothingGrabbed)
{
    HotkeyForeignClient other;
    ASSERT_TRUE(other.isConnected());
    // The other program holds only the caps-lock variant: still taken, since the hotkey would
    // not work while caps lock is on.
    ASSERT_TRUE(other.grab(kDefault, true));
    EXPECT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Taken);
    EXPECT_FALSE(monitor.registeredShortcut());
    // The variants granted before the refusal were given back.
    EXPECT_TRUE(other.grab(kDefault));
    other.ungrabAll();

    HotkeyForeignClient plain;
    ASSERT_TRUE(plain.grab(kDefault));
    EXPECT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Taken);
    plain.ungrabAll();

    // Once the other program lets go, the same combination registers and works.
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    press(QStringLiteral("shift+super+v"));
    ASSERT_TRUE(counter.waitFor(1));
}

TEST_F(X11Hotkey, OffRegistersNothing)
{
    ASSERT_EQ(monitor.registerShortcut(kDefault, counter.action()), GlobalHotkey::Status::Registered);
    EXPECT_EQ(monitor.registerShortcut({-8192, -8192}, counter.action()), GlobalHotkey::Status::Off);
    EXPECT_EQ(monitor.registerShortcut({-8192, 0x120000}, counter.action()), GlobalHotkey::Status::Off);
    EXPECT_FALSE(monitor.registeredShortcut());
    HotkeyForeignClient other;
    EXPECT_TRUE(other.grab(kDefault));
    EXPECT_TRUE(other.grab(kDefault, true));
}

TEST_F(X11Hotkey, AKeyCodeWithoutAKeyIsReportedUnknown)
{
    EXPECT_EQ(monitor.registerShortcut({10, Shortcut::CommandFlag}, counter.action()),
              GlobalHotkey::Status::UnknownKey);
    EXPECT_FALSE(monitor.registeredShortcut());
}

TEST_F(X11Hotkey, EveryKeyOfTheTableIsOnAPcKeyboardExceptF13ToF20)
{
    HotkeyForeignClient other;
    ASSERT_TRUE(other.isConnected());
    const QList<qint64> f13ToF20{105, 107, 113, 106, 64, 79, 80, 90};
    for (const qint64 code : KeyTranslation::knownKeyCodes()) {
        SCOPED_TRACE(code);
        if (f13ToF20.contains(code)) {
            EXPECT_EQ(monitor.registerShortcut({code, Shortcut::CommandFlag}, counter.action()),
                      GlobalHotkey::Status::UnknownKey);
        } else {
            EXPECT_NE(other.serverKeyCode({code, 0}), 0u);
        }
    }
}
