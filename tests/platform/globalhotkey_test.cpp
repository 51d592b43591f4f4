#include "platform/fake/globalhotkeyfake.h"
#include "platform/x11/globalhotkeyx11.h"

#include <gtest/gtest.h>

using Status = GlobalHotkey::Status;

TEST(GlobalHotkeyFake, RegistersOneShortcutAndPressRunsItsAction)
{
    GlobalHotkeyFake monitor;
    int presses = 0;
    ASSERT_EQ(monitor.registerShortcut(Shortcut::defaultShortcut(), [&] { ++presses; }), Status::Registered);
    EXPECT_EQ(monitor.registeredShortcut(), Shortcut::defaultShortcut());
    EXPECT_TRUE(monitor.press({9, 0x120000}));
    // Caps lock in the mask is not a modifier of the hotkey.
    EXPECT_TRUE(monitor.press({9, 0x120000 | 0x10000}));
    EXPECT_FALSE(monitor.press({9, Shortcut::CommandFlag}));
    EXPECT_EQ(presses, 2);

    const Shortcut other{40, Shortcut::ControlFlag};
    ASSERT_EQ(monitor.registerShortcut(other, [&] { presses += 10; }), Status::Registered);
    EXPECT_FALSE(monitor.press(Shortcut::defaultShortcut()));
    EXPECT_TRUE(monitor.press(other));
    EXPECT_EQ(presses, 12);

    monitor.unregisterAllShortcuts();
    EXPECT_FALSE(monitor.registeredShortcut());
    EXPECT_FALSE(monitor.press(other));
    EXPECT_EQ(monitor.calls.size(), 3);
    EXPECT_FALSE(monitor.calls.last().has_value());
}

TEST(GlobalHotkeyFake, RefusalsLeaveNothingRegistered)
{
    struct Case {
        const char* what;
        Shortcut shortcut;
        Status expected;
    };
    const Case cases[] = {
        {"off in both keys", {-8192, -8192}, Status::Off},
        {"off in the key code alone", {-8192, 0x120000}, Status::Off},
        {"a key code with no key", {10, 0x100000}, Status::UnknownKey},
        {"held by another program", {40, Shortcut::ControlFlag}, Status::Taken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GlobalHotkeyFake monitor;
        monitor.taken << Shortcut{40, Shortcut::ControlFlag};
        ASSERT_EQ(monitor.registerShortcut(Shortcut::defaultShortcut(), [] {}), Status::Registered);
        EXPECT_EQ(monitor.registerShortcut(c.shortcut, [] {}), c.expected);
        EXPECT_FALSE(monitor.registeredShortcut());
        EXPECT_FALSE(monitor.press(Shortcut::defaultShortcut()));
    }
    GlobalHotkeyFake noDesktop;
    noDesktop.available = false;
    EXPECT_EQ(noDesktop.registerShortcut(Shortcut::defaultShortcut(), [] {}), Status::Unavailable);
}

TEST(GlobalHotkeyX11, WithoutAnX11DisplayNothingRegistersAndNothingFails)
{
    // The test platform here is offscreen: no X connection, as under Wayland.
    GlobalHotkeyX11 monitor;
    EXPECT_EQ(monitor.registerShortcut(Shortcut::defaultShortcut(), [] {}), Status::Unavailable);
    EXPECT_EQ(monitor.registerShortcut({-8192, -8192}, [] {}), Status::Off);
    EXPECT_FALSE(monitor.registeredShortcut());
    monitor.unregisterAllShortcuts();
}
