#pragma once

#include "platform/keytranslation.h"

#include <functional>
#include <memory>
#include <optional>

// The one system-wide hotkey of the application, in the role MASShortcut's shortcut monitor
// plays on macOS: the hotkey controller registers the stored Shortcut with an action, and the
// action runs on the main thread each time the user presses the combination, whichever
// application has the keyboard. At most one hotkey is registered at a time.
//
// Everything here is called on the main thread.
class GlobalHotkey {
public:
    using Action = std::function<void()>;

    enum class Status {
        Registered,
        // The shortcut holds the off marker; nothing is registered.
        Off,
        // No key on this keyboard for the key code (or none in the translation table).
        UnknownKey,
        // Another program already holds the combination.
        Taken,
        // No global hotkeys on this desktop (not an X11 session).
        Unavailable,
    };

    virtual ~GlobalHotkey() = default;

    // Registers the shortcut in place of the one registered before; on any outcome other than
    // Registered nothing is left registered.
    virtual Status registerShortcut(const Shortcut& shortcut, Action action) = 0;
    virtual void unregisterAllShortcuts() = 0;
    // The shortcut now registered, if any.
    virtual std::optional<Shortcut> registeredShortcut() const = 0;

    // The monitor the rest of the system uses: the X11 one unless replaced.
    static GlobalHotkey& current();
    // Replaces the current monitor (tests); nullptr restores the X11 one.
    static void setCurrent(std::shared_ptr<GlobalHotkey> monitor);

    static const char* statusName(Status status);
};
