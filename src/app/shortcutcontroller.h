#pragma once

#include "platform/globalhotkey.h"
#include "platform/keytranslation.h"
#include "store/defaultskeys.h"

#include <functional>
#include <optional>

// The global hotkey that opens the clip menu, default Shift+Command+V (Shift+Super+V on
// Linux). The user defaults "keyCode" and "modifierFlags" mirror the registered hotkey, or
// hold -8192 twice while it is switched off. Main thread only.
class ShortcutController {
public:
    using Action = std::function<void()>;

    // The application's controller, made on first use at start-up after the privacy script
    // engine; its hotkey shows the clip menu at the pointer.
    static ShortcutController& sharedInstance();

    // Registers the stored hotkey (or the default, which is then stored) with the current
    // monitor, or nothing when the stored pair says off. Tests make controllers of their own.
    explicit ShortcutController(Action action);
    ~ShortcutController();

    ShortcutController(const ShortcutController&) = delete;
    ShortcutController& operator=(const ShortcutController&) = delete;

    // The current hotkey; nothing while off.
    std::optional<Shortcut> shortcut() const { return m_shortcut; }
    // Keeps the hotkey, drops every registration and, for a hotkey, stores it and registers
    // it. Nothing: no hotkey (and nothing stored; shortcutOff stores the off marker).
    void setShortcut(const std::optional<Shortcut>& shortcut);
    // A hotkey the user chose: registered and stored when it can be registered; otherwise
    // (another program holds it) the previous hotkey is registered again and stays, and
    // nothing is stored. How the new one's registration went.
    GlobalHotkey::Status changeShortcut(const Shortcut& shortcut);
    // Stores the current hotkey, when there is one.
    void saveShortcut();
    // Switches the hotkey off and stores -8192 under both keys.
    void shortcutOff();

    // The stored pair when both keys are there, read as integers.
    static std::optional<Shortcut> storedShortcut();
    // "keyCode" or else "modifierFlags" read as -8192 (a missing key reads as 0).
    static bool isShortcutOff();

    // How the last registration went (Off while there is no hotkey).
    GlobalHotkey::Status status() const { return m_status; }

    // Tests only: registers the stored hotkey again, as a new controller does, with the
    // monitor current now (a test may have replaced the one it was registered with).
    void resetForTests();

    static constexpr const char* kKeyCodeKey = DefaultsKey::KeyCode.data();
    static constexpr const char* kModifierFlagsKey = DefaultsKey::ModifierFlags.data();

private:
    // The stored hotkey (or the default, then stored), or none when the stored pair says off.
    void registerStored();

    Action m_action;
    std::optional<Shortcut> m_shortcut;
    GlobalHotkey::Status m_status = GlobalHotkey::Status::Off;
};
