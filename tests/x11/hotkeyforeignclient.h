#pragma once

#include "platform/keytranslation.h"

// A second X client on the test's X server, with an Xlib connection of its own: it grabs keys
// the way another program would, so the hotkey under test meets a combination already taken.
class HotkeyForeignClient {
public:
    HotkeyForeignClient();
    ~HotkeyForeignClient();

    HotkeyForeignClient(const HotkeyForeignClient&) = delete;
    HotkeyForeignClient& operator=(const HotkeyForeignClient&) = delete;

    bool isConnected() const { return m_display != nullptr; }

    // Grabs the shortcut's key with exactly its modifiers (plus caps lock when asked) on the root
    // window; false when the server refuses, as it does when another client holds that grab.
    bool grab(const Shortcut& shortcut, bool withCapsLock = false);
    void ungrabAll();

    // The server's key code for the shortcut's key, 0 when its keyboard has no such key.
    unsigned int serverKeyCode(const Shortcut& shortcut) const;

private:
    void* m_display = nullptr;
};
