#pragma once

#include <QKeySequence>
#include <QList>
#include <Qt>

#include <optional>

// A global hotkey in its stored form: the macOS virtual key code (ANSI layout) and the macOS
// modifier mask, the values kept under "keyCode" and "modifierFlags". They stay in this form on
// every platform so that the stored settings mean the same everywhere; the platform layer
// translates them into its own keys when it registers the hotkey.
struct Shortcut {
    qint64 keyCode = 0;
    qint64 modifierFlags = 0;

    // Modifier bits of the mask. Command is the key in Command's place: Super on Linux.
    static constexpr qint64 ShiftFlag = 0x20000;
    static constexpr qint64 ControlFlag = 0x40000;
    static constexpr qint64 OptionFlag = 0x80000;
    static constexpr qint64 CommandFlag = 0x100000;
    static constexpr qint64 ModifierMask = ShiftFlag | ControlFlag | OptionFlag | CommandFlag;

    // Stored in either key, it means the hotkey is switched off.
    static constexpr qint64 OffMarker = -8192;

    // Shift+Command+V: key code 9 with the mask 0x120000.
    static constexpr qint64 DefaultKeyCode = 9;
    static constexpr qint64 DefaultModifierFlags = ShiftFlag | CommandFlag;
    static constexpr Shortcut defaultShortcut() { return {DefaultKeyCode, DefaultModifierFlags}; }

    // The platform's paste keystroke, which the app posts itself after a clip was chosen:
    // Control+V on Linux.
    static constexpr Shortcut pasteKeystroke() { return {DefaultKeyCode, ControlFlag}; }

    constexpr bool isOff() const { return keyCode == OffMarker || modifierFlags == OffMarker; }

    friend constexpr bool operator==(const Shortcut&, const Shortcut&) = default;
};

// Translation between the stored key codes and Qt's keys, for the hotkey recorder (a Qt key
// event becomes a Shortcut) and for showing a stored hotkey. Covers the keys of an ANSI
// keyboard: letters, digits, punctuation, space, return, tab, backspace, escape, the editing
// and arrow keys, F1 to F20 and the numeric keypad. Qt's modifiers are read as they are on
// Linux: Meta is the Super key and stands for Command.
class KeyTranslation {
public:
    // The Shortcut for a key press as Qt reports it, or nothing for a key the table has no
    // code for (modifier keys alone included). Shifted punctuation ("+" with Shift, as Qt
    // reports Shift+=) comes back as its unshifted key; Qt::KeypadModifier picks the keypad key.
    static std::optional<Shortcut> shortcutForKeyEvent(int qtKey, Qt::KeyboardModifiers modifiers);

    static std::optional<qint64> keyCodeForQtKey(int qtKey, bool keypad = false);
    // The unshifted Qt key of a stored key code; keypad keys give their Qt key too.
    static std::optional<int> qtKeyForKeyCode(qint64 keyCode);
    static bool isKeypadKeyCode(qint64 keyCode);

    // Modifier bits outside the four above (caps lock, function, keypad) are left out.
    static qint64 modifierFlagsForQtModifiers(Qt::KeyboardModifiers modifiers);
    static Qt::KeyboardModifiers qtModifiersForModifierFlags(qint64 flags);

    // How Qt would write the hotkey ("Shift+Meta+V"); empty when off or not in the table.
    static QKeySequence keySequenceForShortcut(const Shortcut& shortcut);

    // Every key code the table knows, ascending.
    static QList<qint64> knownKeyCodes();
};
