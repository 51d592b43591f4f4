#include "platform/keytranslation.h"
#include "platform/x11/keytranslationx11.h"

#include <gtest/gtest.h>

TEST(KeyTranslation, TheDefaultIsShiftCommandVAndEitherOffMarkerSwitchesItOff)
{
    EXPECT_EQ(Shortcut::defaultShortcut(), (Shortcut{9, 1179648}));
    EXPECT_FALSE(Shortcut::defaultShortcut().isOff());
    EXPECT_TRUE((Shortcut{-8192, -8192}.isOff()));
    EXPECT_TRUE((Shortcut{-8192, 0x120000}.isOff()));
    EXPECT_TRUE((Shortcut{9, -8192}.isOff()));
    // Shift+Super+V on X11: ShiftMask (1) and Mod4Mask (64).
    EXPECT_EQ(KeyTranslationX11::x11ModifiersForFlags(0x120000), 1u | 64u);
    EXPECT_EQ(KeyTranslationX11::keysymForKeyCode(9), 0x76ul);  // XK_v
}

TEST(KeyTranslation, EachModifierBitHasItsXModifierAndTheOtherBitsAreIgnored)
{
    struct Case {
        qint64 flags;
        unsigned int x11;
        Qt::KeyboardModifiers qt;
    };
    const Case cases[] = {
        {Shortcut::ShiftFlag, 1u, Qt::ShiftModifier},
        {Shortcut::ControlFlag, 4u, Qt::ControlModifier},
        {Shortcut::OptionFlag, 8u, Qt::AltModifier},
        {Shortcut::CommandFlag, 64u, Qt::MetaModifier},
        // Caps lock (0x10000), keypad (0x200000) and function (0x800000) are not modifiers of a grab.
        {0x10000 | 0x200000 | 0x800000, 0u, {}},
        {Shortcut::CommandFlag | 0x800000, 64u, Qt::MetaModifier},
        {Shortcut::OffMarker, 0u, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(KeyTranslationX11::x11ModifiersForFlags(c.flags), c.x11);
        EXPECT_EQ(KeyTranslation::qtModifiersForModifierFlags(c.flags), c.qt);
    }
    EXPECT_EQ(KeyTranslation::modifierFlagsForQtModifiers(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier
                                                          | Qt::MetaModifier | Qt::KeypadModifier),
              Shortcut::ModifierMask);
}

TEST(KeyTranslation, KeysOfTheAnsiLayoutHaveTheirQtKeyAndKeysym)
{
    struct Case {
        qint64 keyCode;
        int qtKey;
        unsigned long keysym;
    };
    // Keysym numbers as X defines them.
    const Case cases[] = {
        {0, Qt::Key_A, 0x61},          {6, Qt::Key_Z, 0x7a},           {18, Qt::Key_1, 0x31},
        {29, Qt::Key_0, 0x30},         {22, Qt::Key_6, 0x36},          {23, Qt::Key_5, 0x35},
        {24, Qt::Key_Equal, 0x3d},     {27, Qt::Key_Minus, 0x2d},      {33, Qt::Key_BracketLeft, 0x5b},
        {39, Qt::Key_Apostrophe, 0x27}, {42, Qt::Key_Backslash, 0x5c}, {50, Qt::Key_QuoteLeft, 0x60},
        {36, Qt::Key_Return, 0xff0d},  {48, Qt::Key_Tab, 0xff09},      {49, Qt::Key_Space, 0x20},
        {51, Qt::Key_Backspace, 0xff08}, {53, Qt::Key_Escape, 0xff1b}, {117, Qt::Key_Delete, 0xffff},
        {115, Qt::Key_Home, 0xff50},   {116, Qt::Key_PageUp, 0xff55},  {121, Qt::Key_PageDown, 0xff56},
        {123, Qt::Key_Left, 0xff51},   {124, Qt::Key_Right, 0xff53},   {125, Qt::Key_Down, 0xff54},
        {126, Qt::Key_Up, 0xff52},     {122, Qt::Key_F1, 0xffbe},      {120, Qt::Key_F2, 0xffbf},
        {99, Qt::Key_F3, 0xffc0},      {118, Qt::Key_F4, 0xffc1},      {111, Qt::Key_F12, 0xffc9},
        {90, Qt::Key_F20, 0xffd1},     {82, Qt::Key_0, 0xffb0},        {92, Qt::Key_9, 0xffb9},
        {76, Qt::Key_Enter, 0xff8d},   {65, Qt::Key_Period, 0xffae},   {114, Qt::Key_Insert, 0xff63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyCode);
        EXPECT_EQ(KeyTranslation::qtKeyForKeyCode(c.keyCode), c.qtKey);
        EXPECT_EQ(KeyTranslationX11::keysymForKeyCode(c.keyCode), c.keysym);
        EXPECT_EQ(KeyTranslation::keyCodeForQtKey(c.qtKey, KeyTranslation::isKeypadKeyCode(c.keyCode)), c.keyCode);
    }
    // 10 is the ISO key beside the left Shift: no ANSI keyboard has it.
    EXPECT_FALSE(KeyTranslation::qtKeyForKeyCode(10));
    EXPECT_FALSE(KeyTranslationX11::keysymForKeyCode(10));
    EXPECT_FALSE(KeyTranslationX11::keysymForKeyCode(Shortcut::OffMarker));
}

TEST(KeyTranslation, TheQtAndX11TablesKnowTheSameKeysAndAgreeOnPrintableOnes)
{
    const QList<qint64> codes = KeyTranslation::knownKeyCodes();
    EXPECT_GT(codes.size(), 90);
    for (qint64 code = -1; code < 200; ++code) {
        SCOPED_TRACE(code);
        EXPECT_EQ(codes.contains(code), KeyTranslationX11::keysymForKeyCode(code).has_value());
    }
    for (const qint64 code : codes) {
        SCOPED_TRACE(code);
        const int qtKey = *KeyTranslation::qtKeyForKeyCode(code);
        // Off the keypad, a printable Qt key is its character, and its keysym that character unshifted.
        if (!KeyTranslation::isKeypadKeyCode(code) && qtKey >= 0x20 && qtKey < 0x7f) {
            EXPECT_EQ(KeyTranslationX11::keysymForKeyCode(code),
                      static_cast<unsigned long>(QChar(qtKey).toLower().unicode()));
        }
    }
}

TEST(KeyTranslation, AQtKeyPressBecomesTheStoredShortcut)
{
    struct Case {
        const char* what;
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        std::optional<Shortcut> expected;
    };
    const qint64 shift = Shortcut::ShiftFlag, control = Shortcut::ControlFlag, option = Shortcut::OptionFlag,
                 command = Shortcut::CommandFlag;
    const Case cases[] = {
        {"the default", Qt::Key_V, Qt::ShiftModifier | Qt::MetaModifier, Shortcut{9, 0x120000}},
        {"Qt reports Shift+= as +", Qt::Key_Plus, Qt::ShiftModifier | Qt::MetaModifier, Shortcut{24, shift | command}},
        {"Shift+1 as !", Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier, Shortcut{18, shift | control}},
        {"Shift+` as ~", Qt::Key_AsciiTilde, Qt::ShiftModifier, Shortcut{50, shift}},
        {"Shift+Tab as Backtab", Qt::Key_Backtab, Qt::ShiftModifier, Shortcut{48, shift}},
        {"a function key alone", Qt::Key_F5, Qt::NoModifier, Shortcut{96, 0}},
        {"an arrow", Qt::Key_Left, Qt::AltModifier, Shortcut{123, option}},
        {"keypad 1", Qt::Key_1, Qt::KeypadModifier | Qt::ControlModifier, Shortcut{83, control}},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, Shortcut{76, 0}},
        {"keypad decimal", Qt::Key_Period, Qt::KeypadModifier | Qt::MetaModifier, Shortcut{65, command}},
        {"keypad 7 with num lock off", Qt::Key_Home, Qt::KeypadModifier, Shortcut{115, 0}},
        {"the main period", Qt::Key_Period, Qt::MetaModifier, Shortcut{47, command}},
        {"Help", Qt::Key_Help, Qt::MetaModifier, Shortcut{114, command}},
        {"Shift alone", Qt::Key_Shift, Qt::ShiftModifier, std::nullopt},
        {"Super alone", Qt::Key_Meta, Qt::MetaModifier, std::nullopt},
        {"a key no ANSI keyboard has", Qt::Key_VolumeUp, Qt::MetaModifier, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Shortcut> got = KeyTranslation::shortcutForKeyEvent(c.qtKey, c.modifiers);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(got->keyCode, c.expected->keyCode);
            EXPECT_EQ(got->modifierFlags, c.expected->modifierFlags);
        }
    }
}

TEST(KeyTranslation, EveryKnownKeyRoundTripsThroughItsKeySequence)
{
    EXPECT_EQ(KeyTranslation::keySequenceForShortcut(Shortcut::defaultShortcut()),
              QKeySequence(QStringLiteral("Shift+Meta+V")));
    EXPECT_TRUE(KeyTranslation::keySequenceForShortcut({-8192, -8192}).isEmpty());
    EXPECT_TRUE(KeyTranslation::keySequenceForShortcut({10, 0x100000}).isEmpty());

    const qint64 masks[] = {0, Shortcut::CommandFlag, Shortcut::ShiftFlag | Shortcut::OptionFlag, Shortcut::ModifierMask};
    for (const qint64 code : KeyTranslation::knownKeyCodes())
        for (const qint64 mask : masks) {
            SCOPED_TRACE(code);
            SCOPED_TRACE(mask);
            const QKeySequence sequence = KeyTranslation::keySequenceForShortcut({code, mask});
            ASSERT_EQ(sequence.count(), 1);
            const QKeyCombination combination = sequence[0];
            const auto back = KeyTranslation::shortcutForKeyEvent(combination.key(), combination.keyboardModifiers());
            ASSERT_TRUE(back.has_value());
            EXPECT_EQ(*back, (Shortcut{code, mask}));
        }
}
