#include "app/shortcutcontroller.h"
#include "platform/fake/globalhotkeyfake.h"
#include "store/clipuserdefaults.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Status = GlobalHotkey::Status;

const QString kKeyCode = QStringLiteral("keyCode");
const QString kFlags = QStringLiteral("modifierFlags");

class ShortcutControllerTest : public ::testing::Test {
protected:
    void SetUp() override { GlobalHotkey::setCurrent(monitor); }
    void TearDown() override { GlobalHotkey::setCurrent(nullptr); }

    // A new start of the application: a new monitor, the same settings.
    void restart()
    {
        monitor = std::make_shared<GlobalHotkeyFake>();
        GlobalHotkey::setCurrent(monitor);
    }
    std::unique_ptr<ShortcutController> make()
    {
        return std::make_unique<ShortcutController>([this] { ++menus; });
    }
    std::optional<qint64> stored(const QString& key) { return defaults.integerForKey(key); }

    std::shared_ptr<GlobalHotkeyFake> monitor = std::make_shared<GlobalHotkeyFake>();
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    int menus = 0;
};

}  // namespace

TEST_F(ShortcutControllerTest, AFirstLaunchRegistersShiftCommandVAndStoresIt)
{
    const auto controller = make();
    EXPECT_EQ(controller->shortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(monitor->registeredShortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(controller->status(), Status::Registered);
    EXPECT_EQ(stored(kKeyCode), 9);
    EXPECT_EQ(stored(kFlags), 1179648);

    EXPECT_TRUE(monitor->press(Shortcut::defaultShortcut()));
    EXPECT_EQ(menus, 1);
}

TEST_F(ShortcutControllerTest, OffSurvivesARestart)
{
    make()->shortcutOff();
    EXPECT_FALSE(monitor->registeredShortcut());
    EXPECT_EQ(stored(kKeyCode), Shortcut::OffMarker);
    EXPECT_EQ(stored(kFlags), Shortcut::OffMarker);

    restart();
    const auto controller = make();
    EXPECT_FALSE(controller->shortcut());
    EXPECT_FALSE(monitor->registeredShortcut());
    EXPECT_EQ(controller->status(), Status::Off);
    // Nothing registered and nothing stored over the marker.
    EXPECT_EQ(stored(kKeyCode), Shortcut::OffMarker);
    EXPECT_EQ(stored(kFlags), Shortcut::OffMarker);
    EXPECT_FALSE(monitor->press(Shortcut::defaultShortcut()));
    EXPECT_EQ(menus, 0);
}

TEST_F(ShortcutControllerTest, TheOffMarkerInEitherKeyMeansOff)
{
    struct Case {
        const char* what;
        std::optional<qint64> keyCode;
        std::optional<qint64> flags;
    };
    const Case cases[] = {
        {"key code off, flags of a hotkey", Shortcut::OffMarker, 0x120000},
        {"key code off, no flags", Shortcut::OffMarker, std::nullopt},
        {"flags off, key code of a hotkey", 9, Shortcut::OffMarker},
        {"flags off, no key code", std::nullopt, Shortcut::OffMarker},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        defaults.remove(kKeyCode);
        defaults.remove(kFlags);
        if (c.keyCode)
            defaults.setValue(kKeyCode, *c.keyCode);
        if (c.flags)
            defaults.setValue(kFlags, *c.flags);
        restart();
        EXPECT_TRUE(ShortcutController::isShortcutOff());
        const auto controller = make();
        EXPECT_FALSE(monitor->registeredShortcut());
        EXPECT_EQ(stored(kKeyCode), c.keyCode);
        EXPECT_EQ(stored(kFlags), c.flags);
    }
}

TEST_F(ShortcutControllerTest, OneKeyAloneFallsBackToTheDefaultWhichOverwritesBoth)
{
    for (const QString& present : {kKeyCode, kFlags}) {
        SCOPED_TRACE(present.toStdString());
        defaults.remove(kKeyCode);
        defaults.remove(kFlags);
        defaults.setValue(present, 40);
        EXPECT_FALSE(ShortcutController::storedShortcut());
        restart();
        const auto controller = make();
        EXPECT_EQ(monitor->registeredShortcut(), Shortcut::defaultShortcut());
        EXPECT_EQ(stored(kKeyCode), 9);
        EXPECT_EQ(stored(kFlags), 0x120000);
    }
}

TEST_F(ShortcutControllerTest, AStoredHotkeyIsRegisteredAsStored)
{
    // Control+Option+K, written by the preferences earlier.
    defaults.setValue(kKeyCode, 40);
    defaults.setValue(kFlags, 0xC0000);
    const auto controller = make();
    const Shortcut ctrlAltK{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    EXPECT_EQ(controller->shortcut(), ctrlAltK);
    EXPECT_EQ(monitor->registeredShortcut(), ctrlAltK);
    EXPECT_FALSE(monitor->press(Shortcut::defaultShortcut()));
    EXPECT_TRUE(monitor->press(ctrlAltK));
    EXPECT_EQ(menus, 1);
}

TEST_F(ShortcutControllerTest, ANewHotkeyReplacesTheOldInTheMonitorAndTheSettings)
{
    const auto controller = make();
    monitor->calls.clear();
    const Shortcut superF1{122, Shortcut::CommandFlag};
    controller->setShortcut(superF1);
    // Every earlier registration goes first.
    ASSERT_EQ(monitor->calls.size(), 2);
    EXPECT_FALSE(monitor->calls[0]);
    EXPECT_EQ(monitor->calls[1], superF1);
    EXPECT_EQ(stored(kKeyCode), 122);
    EXPECT_EQ(stored(kFlags), Shortcut::CommandFlag);
    EXPECT_TRUE(monitor->press(superF1));

    // Setting none (the recorder cleared without the off action) keeps what is stored.
    controller->setShortcut(std::nullopt);
    EXPECT_FALSE(monitor->registeredShortcut());
    EXPECT_EQ(stored(kKeyCode), 122);
    EXPECT_EQ(ShortcutController::storedShortcut(), superF1);
}

TEST_F(ShortcutControllerTest, AHotkeyAnotherProgramHoldsIsStoredButReportedTaken)
{
    monitor->taken = {Shortcut::defaultShortcut()};
    const auto controller = make();
    EXPECT_EQ(controller->status(), Status::Taken);
    EXPECT_FALSE(monitor->registeredShortcut());
    EXPECT_EQ(ShortcutController::storedShortcut(), Shortcut::defaultShortcut());
    // A desktop without global hotkeys.
    monitor->taken.clear();
    monitor->available = false;
    controller->setShortcut(Shortcut::defaultShortcut());
    EXPECT_EQ(controller->status(), Status::Unavailable);
}
