#include "platform/x11/keytranslationx11.h"

#include <X11/X.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>

namespace {

struct KeysymRow {
    qint64 keyCode;
    unsigned long keysym;
};

// macOS virtual key codes of the ANSI layout and the X keysyms of the keys in their places.
constexpr std::array kKeysyms{
    KeysymRow{0, XK_a},
    KeysymRow{1, XK_s},
    KeysymRow{2, XK_d},
    KeysymRow{3, XK_f},
    KeysymRow{4, XK_h},
    KeysymRow{5, XK_g},
    KeysymRow{6, XK_z},
    KeysymRow{7, XK_x},
    KeysymRow{8, XK_c},
    KeysymRow{9, XK_v},
    KeysymRow{11, XK_b},
    KeysymRow{12, XK_q},
    KeysymRow{13, XK_w},
    KeysymRow{14, XK_e},
    KeysymRow{15, XK_r},
    KeysymRow{16, XK_y},
    KeysymRow{17, XK_t},
    KeysymRow{18, XK_1},
    KeysymRow{19, XK_2},
    KeysymRow{20, XK_3},
    KeysymRow{21, XK_4},
    KeysymRow{22, XK_6},
    KeysymRow{23, XK_5},
    KeysymRow{24, XK_equal},
    KeysymRow{25, XK_9},
    KeysymRow{26, XK_7},
    KeysymRow{27, XK_minus},
    KeysymRow{28, XK_8},
    KeysymRow{29, XK_0},
    KeysymRow{30, XK_bracketright},
    KeysymRow{31, XK_o},
    KeysymRow{32, XK_u},
    KeysymRow{33, XK_bracketleft},
    KeysymRow{34, XK_i},
    KeysymRow{35, XK_p},
    KeysymRow{36, XK_Return},
    KeysymRow{37, XK_l},
    KeysymRow{38, XK_j},
    KeysymRow{39, XK_apostrophe},
    KeysymRow{40, XK_k},
    KeysymRow{41, XK_semicolon},
    KeysymRow{42, XK_backslash},
    KeysymRow{43, XK_comma},
    KeysymRow{44, XK_slash},
    KeysymRow{45, XK_n},
    KeysymRow{46, XK_m},
    KeysymRow{47, XK_period},
    KeysymRow{48, XK_Tab},
    KeysymRow{49, XK_space},
    KeysymRow{50, XK_grave},
    KeysymRow{51, XK_BackSpace},
    KeysymRow{53, XK_Escape},
    KeysymRow{64, XK_F17},
    KeysymRow{65, XK_KP_Decimal},
    KeysymRow{67, XK_KP_Multiply},
    KeysymRow{69, XK_KP_Add},
    KeysymRow{75, XK_KP_Divide},
    KeysymRow{76, XK_KP_Enter},
    KeysymRow{78, XK_KP_Subtract},
    KeysymRow{79, XK_F18},
    KeysymRow{80, XK_F19},
    KeysymRow{81, XK_KP_Equal},
    KeysymRow{82, XK_KP_0},
    KeysymRow{83, XK_KP_1},
    KeysymRow{84, XK_KP_2},
    KeysymRow{85, XK_KP_3},
    KeysymRow{86, XK_KP_4},
    KeysymRow{87, XK_KP_5},
    KeysymRow{88, XK_KP_6},
    KeysymRow{89, XK_KP_7},
    KeysymRow{90, XK_F20},
    KeysymRow{91, XK_KP_8},
    KeysymRow{92, XK_KP_9},
    KeysymRow{96, XK_F5},
    KeysymRow{97, XK_F6},
    KeysymRow{98, XK_F7},
    KeysymRow{99, XK_F3},
    KeysymRow{100, XK_F8},
    KeysymRow{101, XK_F9},
    KeysymRow{103, XK_F11},
    KeysymRow{105, XK_F13},
    KeysymRow{106, XK_F16},
    KeysymRow{107, XK_F14},
    KeysymRow{109, XK_F10},
    KeysymRow{111, XK_F12},
    KeysymRow{113, XK_F15},
    KeysymRow{114, XK_Insert},
    KeysymRow{115, XK_Home},
    KeysymRow{116, XK_Prior},
    KeysymRow{117, XK_Delete},
    KeysymRow{118, XK_F4},
    KeysymRow{119, XK_End},
    KeysymRow{120, XK_F2},
    KeysymRow{121, XK_Next},
    KeysymRow{122, XK_F1},
    KeysymRow{123, XK_Left},
    KeysymRow{124, XK_Right},
    KeysymRow{125, XK_Down},
    KeysymRow{126, XK_Up},
};

}  // namespace

std::optional<unsigned long> KeyTranslationX11::keysymForKeyCode(qint64 keyCode)
{
    const auto it = std::find_if(kKeysyms.begin(), kKeysyms.end(),
                                 [&](const KeysymRow& r) { return r.keyCode == keyCode; });
    if (it == kKeysyms.end())
        return std::nullopt;
    return it->keysym;
}

unsigned int KeyTranslationX11::x11ModifiersForFlags(qint64 modifierFlags)
{
    if (modifierFlags == Shortcut::OffMarker)
        return 0;
    unsigned int modifiers = 0;
    if (modifierFlags & Shortcut::ShiftFlag)
        modifiers |= ShiftMask;
    if (modifierFlags & Shortcut::ControlFlag)
        modifiers |= ControlMask;
    if (modifierFlags & Shortcut::OptionFlag)
        modifiers |= Mod1Mask;
    if (modifierFlags & Shortcut::CommandFlag)
        modifiers |= Mod4Mask;
    return modifiers;
}
