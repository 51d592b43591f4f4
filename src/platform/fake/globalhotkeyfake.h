#pragma once

#include "platform/globalhotkey.h"

#include <QList>

// An in-memory monitor: keeps what was registered, and press() plays the user pressing a
// combination. Shortcuts listed in `taken` are refused as if another program held them.
class GlobalHotkeyFake : public GlobalHotkey {
public:
    Status registerShortcut(const Shortcut& shortcut, Action action) override;
    void unregisterAllShortcuts() override;
    std::optional<Shortcut> registeredShortcut() const override;

    // Runs the action when the combination is the registered one; true when it ran.
    bool press(const Shortcut& shortcut);

    QList<Shortcut> taken;
    bool available = true;
    // Every call, in order, for tests of the controller: the shortcut given, or nothing for
    // unregisterAllShortcuts.
    QList<std::optional<Shortcut>> calls;

private:
    std::optional<Shortcut> m_shortcut;
    Action m_action;
};
