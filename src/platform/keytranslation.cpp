#include "platform/keytranslation.h"

#include <algorithm>
#include <array>

namespace {

struct KeyRow {
    qint64 keyCode;
    int qtKey;
    // What Qt reports for the key with Shift held on a US layout (0 for none).
    int shiftedQtKey;
    bool keypad;
};

// macOS virtual key codes of the ANSI layout and the Qt keys in their places.
constexpr std::array kRows{
    KeyRow{0, Qt::Key_A, 0, false},
    KeyRow{1, Qt::Key_S, 0, false},
    KeyRow{2, Qt::Key_D, 0, false},
    KeyRow{3, Qt::Key_F, 0, false},
    KeyRow{4, Qt::Key_H, 0, false},
    KeyRow{5, Qt::Key_G, 0, false},
    KeyRow{6, Qt::Key_Z, 0, false},
    KeyRow{7, Qt::Key_X, 0, false},
    KeyRow{8, Qt::Key_C, 0, false},
    KeyRow{9, Qt::Key_V, 0, false},
    KeyRow{11, Qt::Key_B, 0, false},
    KeyRow{12, Qt::Key_Q, 0, false},
    KeyRow{13, Qt::Key_W, 0, false},
    KeyRow{14, Qt::Key_E, 0, false},
    KeyRow{15, Qt::Key_R, 0, false},
    KeyRow{16, Qt::Key_Y, 0, false},
    KeyRow{17, Qt::Key_T, 0, false},
    KeyRow{18, Qt::Key_1, Qt::Key_Exclam, false},
    KeyRow{19, Qt::Key_2, Qt::Key_At, false},
    KeyRow{20, Qt::Key_3, Qt::Key_NumberSign, false},
    KeyRow{21, Qt::Key_4, Qt::Key_Dollar, false},
    KeyRow{22, Qt::Key_6, Qt::Key_AsciiCircum, false},
    KeyRow{23, Qt::Key_5, Qt::Key_Percent, false},
    KeyRow{24, Qt::Key_Equal, Qt::Key_Plus, false},
    KeyRow{25, Qt::Key_9, Qt::Key_ParenLeft, false},
    KeyRow{26, Qt::Key_7, Qt::Key_Ampersand, false},
    KeyRow{27, Qt::Key_Minus, Qt::Key_Underscore, false},
    KeyRow{28, Qt::Key_8, Qt::Key_Asterisk, false},
    KeyRow{29, Qt::Key_0, Qt::Key_ParenRight, false},
    KeyRow{30, Qt::Key_BracketRight, Qt::Key_BraceRight, false},
    KeyRow{31, Qt::Key_O, 0, false},
    KeyRow{32, Qt::Key_U, 0, false},
    KeyRow{33, Qt::Key_BracketLeft, Qt::Key_BraceLeft, false},
    KeyRow{34, Qt::Key_I, 0, false},
    KeyRow{35, Qt::Key_P, 0, false},
    KeyRow{36, Qt::Key_Return, 0, false},
    KeyRow{37, Qt::Key_L, 0, false},
    KeyRow{38, Qt::Key_J, 0, false},
    KeyRow{39, Qt::Key_Apostrophe, Qt::Key_QuoteDbl, false},
    KeyRow{40, Qt::Key_K, 0, false},
    KeyRow{41, Qt::Key_Semicolon, Qt::Key_Colon, false},
    KeyRow{42, Qt::Key_Backslash, Qt::Key_Bar, false},
    KeyRow{43, Qt::Key_Comma, Qt::Key_Less, false},
    KeyRow{44, Qt::Key_Slash, Qt::Key_Question, false},
    KeyRow{45, Qt::Key_N, 0, false},
    KeyRow{46, Qt::Key_M, 0, false},
    KeyRow{47, Qt::Key_Period, Qt::Key_Greater, false},
    // Qt reports Shift+Tab as Backtab.
    KeyRow{48, Qt::Key_Tab, Qt::Key_Backtab, false},
    KeyRow{49, Qt::Key_Space, 0, false},
    KeyRow{50, Qt::Key_QuoteLeft, Qt::Key_AsciiTilde, false},
    KeyRow{51, Qt::Key_Backspace, 0, false},
    KeyRow{53, Qt::Key_Escape, 0, false},
    KeyRow{64, Qt::Key_F17, 0, false},
    KeyRow{65, Qt::Key_Period, 0, true},
    KeyRow{67, Qt::Key_Asterisk, 0, true},
    KeyRow{69, Qt::Key_Plus, 0, true},
    KeyRow{75, Qt::Key_Slash, 0, true},
    KeyRow{76, Qt::Key_Enter, 0, true},
    KeyRow{78, Qt::Key_Minus, 0, true},
    KeyRow{79, Qt::Key_F18, 0, false},
    KeyRow{80, Qt::Key_F19, 0, false},
    KeyRow{81, Qt::Key_Equal, 0, true},
    KeyRow{82, Qt::Key_0, 0, true},
    KeyRow{83, Qt::Key_1, 0, true},
    KeyRow{84, Qt::Key_2, 0, true},
    KeyRow{85, Qt::Key_3, 0, true},
    KeyRow{86, Qt::Key_4, 0, true},
    KeyRow{87, Qt::Key_5, 0, true},
    KeyRow{88, Qt::Key_6, 0, true},
    KeyRow{89, Qt::Key_7, 0, true},
    KeyRow{90, Qt::Key_F20, 0, false},
    KeyRow{91, Qt::Key_8, 0, true},
    KeyRow{92, Qt::Key_9, 0, true},
    KeyRow{96, Qt::Key_F5, 0, false},
    KeyRow{97, Qt::Key_F6, 0, false},
    KeyRow{98, Qt::Key_F7, 0, false},
    KeyRow{99, Qt::Key_F3, 0, false},
    KeyRow{100, Qt::Key_F8, 0, false},
    KeyRow{101, Qt::Key_F9, 0, false},
    KeyRow{103, Qt::Key_F11, 0, false},
    KeyRow{105, Qt::Key_F13, 0, false},
    KeyRow{106, Qt::Key_F16, 0, false},
    KeyRow{107, Qt::Key_F14, 0, false},
    KeyRow{109, Qt::Key_F10, 0, false},
    KeyRow{111, Qt::Key_F12, 0, false},
    KeyRow{113, Qt::Key_F15, 0, false},
    // The Help key sits where PC keyboards have Insert.
    KeyRow{114, Qt::Key_Insert, 0, false},
    KeyRow{115, Qt::Key_Home, 0, false},
    KeyRow{116, Qt::Key_PageUp, 0, false},
    KeyRow{117, Qt::Key_Delete, 0, false},
    KeyRow{118, Qt::Key_F4, 0, false},
    KeyRow{119, Qt::Key_End, 0, false},
    KeyRow{120, Qt::Key_F2, 0, false},
    KeyRow{121, Qt::Key_PageDown, 0, false},
    KeyRow{122, Qt::Key_F1, 0, false},
    KeyRow{123, Qt::Key_Left, 0, false},
    KeyRow{124, Qt::Key_Right, 0, false},
    KeyRow{125, Qt::Key_Down, 0, false},
    KeyRow{126, Qt::Key_Up, 0, false},
};

const KeyRow* rowForKeyCode(qint64 keyCode)
{
    const auto it = std::find_if(kRows.begin(), kRows.end(), [&](const KeyRow& r) { return r.keyCode == keyCode; });
    return it == kRows.end() ? nullptr : &*it;
}

}  // namespace

std::optional<qint64> KeyTranslation::keyCodeForQtKey(int qtKey, bool keypad)
{
    for (const KeyRow& r : kRows)
        if (r.keypad == keypad && r.qtKey == qtKey)
            return r.keyCode;
    if (!keypad) {
        for (const KeyRow& r : kRows)
            if (!r.keypad && r.shiftedQtKey != 0 && r.shiftedQtKey == qtKey)
                return r.keyCode;
        // Help where a keyboard has one.
        if (qtKey == Qt::Key_Help)
            return keyCodeForQtKey(Qt::Key_Insert, false);
    } else {
        // Keypad Enter sometimes arrives as Return, the keypad decimal as a comma.
        if (qtKey == Qt::Key_Return)
            return keyCodeForQtKey(Qt::Key_Enter, true);
        if (qtKey == Qt::Key_Comma)
            return keyCodeForQtKey(Qt::Key_Period, true);
    }
    return std::nullopt;
}

std::optional<Shortcut> KeyTranslation::shortcutForKeyEvent(int qtKey, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    std::optional<qint64> code = keyCodeForQtKey(qtKey, keypad);
    // With num lock off the keypad sends the editing keys; take them as those keys.
    if (!code && keypad)
        code = keyCodeForQtKey(qtKey, false);
    if (!code)
        return std::nullopt;
    return Shortcut{*code, modifierFlagsForQtModifiers(modifiers)};
}

std::optional<int> KeyTranslation::qtKeyForKeyCode(qint64 keyCode)
{
    const KeyRow* r = rowForKeyCode(keyCode);
    if (!r)
        return std::nullopt;
    return r->qtKey;
}

bool KeyTranslation::isKeypadKeyCode(qint64 keyCode)
{
    const KeyRow* r = rowForKeyCode(keyCode);
    return r && r->keypad;
}

qint64 KeyTranslation::modifierFlagsForQtModifiers(Qt::KeyboardModifiers modifiers)
{
    qint64 flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier))
        flags |= Shortcut::ShiftFlag;
    if (modifiers.testFlag(Qt::ControlModifier))
        flags |= Shortcut::ControlFlag;
    if (modifiers.testFlag(Qt::AltModifier))
        flags |= Shortcut::OptionFlag;
    if (modifiers.testFlag(Qt::MetaModifier))
        flags |= Shortcut::CommandFlag;
    return flags;
}

Qt::KeyboardModifiers KeyTranslation::qtModifiersForModifierFlags(qint64 flags)
{
    Qt::KeyboardModifiers modifiers;
    if (flags == Shortcut::OffMarker)
        return modifiers;
    if (flags & Shortcut::ShiftFlag)
        modifiers |= Qt::ShiftModifier;
    if (flags & Shortcut::ControlFlag)
        modifiers |= Qt::ControlModifier;
    if (flags & Shortcut::OptionFlag)
        modifiers |= Qt::AltModifier;
    if (flags & Shortcut::CommandFlag)
        modifiers |= Qt::MetaModifier;
    return modifiers;
}

QKeySequence KeyTranslation::keySequenceForShortcut(const Shortcut& shortcut)
{
    if (shortcut.isOff())
        return {};
    const KeyRow* r = rowForKeyCode(shortcut.keyCode);
    if (!r)
        return {};
    Qt::KeyboardModifiers modifiers = qtModifiersForModifierFlags(shortcut.modifierFlags);
    if (r->keypad)
        modifiers |= Qt::KeypadModifier;
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(r->qtKey)));
}

QList<qint64> KeyTranslation::knownKeyCodes()
{
    QList<qint64> codes;
    codes.reserve(static_cast<qsizetype>(kRows.size()));
    for (const KeyRow& r : kRows)
        codes << r.keyCode;
    std::sort(codes.begin(), codes.end());
    return codes;
}
