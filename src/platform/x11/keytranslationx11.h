#pragma once

#include "platform/keytranslation.h"

#include <optional>

// The X11 side of a stored hotkey: which key symbol a macOS virtual key code stands for, and
// which X modifier bits its mask means. Command is Super (Mod4), Option is Alt (Mod1), Control
// and Shift are themselves. The numbers are X's own (keysyms and the core modifier bits), so
// nothing here needs the Xlib headers.
class KeyTranslationX11 {
public:
    // The keysym of the key (the unshifted one: "v", "equal", "KP_1"), or nothing for a key
    // code the table does not know.
    static std::optional<unsigned long> keysymForKeyCode(qint64 keyCode);

    // ShiftMask, ControlMask, Mod1Mask and Mod4Mask for the four modifier bits; other bits
    // of the mask (caps lock, function, keypad) are not modifiers to X and are left out.
    static unsigned int x11ModifiersForFlags(qint64 modifierFlags);
};
