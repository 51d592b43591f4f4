#include "platform/fake/globalhotkeyfake.h"

GlobalHotkey::Status GlobalHotkeyFake::registerShortcut(const Shortcut& shortcut, Action action)
{
    calls << shortcut;
    m_shortcut.reset();
    m_action = nullptr;
    if (shortcut.isOff())
        return Status::Off;
    if (!available)
        return Status::Unavailable;
    if (!KeyTranslation::qtKeyForKeyCode(shortcut.keyCode))
        return Status::UnknownKey;
    if (taken.contains(shortcut))
        return Status::Taken;
    m_shortcut = shortcut;
    m_action = std::move(action);
    return Status::Registered;
}

void GlobalHotkeyFake::unregisterAllShortcuts()
{
    calls << std::nullopt;
    m_shortcut.reset();
    m_action = nullptr;
}

std::optional<Shortcut> GlobalHotkeyFake::registeredShortcut() const
{
    return m_shortcut;
}

bool GlobalHotkeyFake::press(const Shortcut& shortcut)
{
    // Only the four modifiers count, as with a real keyboard grab.
    if (!m_shortcut || m_shortcut->keyCode != shortcut.keyCode
        || (m_shortcut->modifierFlags & Shortcut::ModifierMask) != (shortcut.modifierFlags & Shortcut::ModifierMask))
        return false;
    // Copied: the action may register another shortcut.
    const Action action = m_action;
    if (action)
        action();
    return true;
}
