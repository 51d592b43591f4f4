#pragma once

#include "platform/pastekeystroke.h"

#include <QString>

#include <memory>

// Ctrl+V through the XTest extension, on a connection of its own to the X display (opened on
// first use, retried while it fails). Keys still held down (Shift, Alt, Super, AltGr, say
// from the hotkey that opened the menu) are released first, so the front application sees
// a plain Ctrl+V. Main thread only.
class X11PasteKeystroke : public PasteKeystroke {
public:
    // The display to use, written like $DISPLAY; empty means $DISPLAY.
    explicit X11PasteKeystroke(QString displayName = {});
    ~X11PasteKeystroke() override;

    X11PasteKeystroke(const X11PasteKeystroke&) = delete;
    X11PasteKeystroke& operator=(const X11PasteKeystroke&) = delete;

    bool postCommandV() override;
    // Translates in the keyboard group now in effect, at the level without modifiers.
    std::optional<QString> keyStringForKeyCode(int keyCode) override;

    // The key code of V, found on the first post by looking at every key code in ascending
    // order (the highest one that gives "V" wins) and kept for the life of the process: a
    // later change of keyboard layout is not seen. 0 until found; a search that finds no V
    // leaves it 0 and runs again at the next post.
    static quint16 cachedKeyCode();
    // Forgets the cached key code (tests).
    static void forgetCachedKeyCode();

private:
    struct Connection;
    // The open connection, or nullptr when the display cannot be reached.
    Connection* connection();

    QString m_displayName;
    std::unique_ptr<Connection> m_connection;
};
