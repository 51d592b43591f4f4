#include "platform/x11/x11pastekeystroke.h"

#include "platform/dispatch.h"

#include <QByteArray>

#include <spdlog/spdlog.h>

#include <atomic>
#include <map>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

std::atomic<quint16> g_keyCodeOfV{0};

// The character of a keysym: Latin-1 keysyms are their own code points, Unicode keysyms
// carry theirs under 0x01000000. Others (function keys, legacy national keysyms) give none.
char32_t characterOfKeysym(KeySym keysym)
{
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return static_cast<char32_t>(keysym);
    if ((keysym & 0xff000000UL) == 0x01000000UL) {
        const unsigned long ucs = keysym & 0x00ffffffUL;
        if (ucs >= 0x20 && ucs <= 0x10ffff)
            return static_cast<char32_t>(ucs);
    }
    return 0;
}

bool isDown(const char keys[32], unsigned keyCode)
{
    return keyCode < 256 && (keys[keyCode / 8] & (1 << (keyCode % 8))) != 0;
}

}  // namespace

struct X11PasteKeystroke::Connection {
    Display* display = nullptr;
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

namespace {

// The keyboard map as the server has it now. Xlib's own key caches only follow a layout
// change when the client reads the change events, which this connection never does.
struct KeyboardMap {
    explicit KeyboardMap(Display* display)
        : desc(XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd))
    {
        XkbStateRec state;
        if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
            group = state.group;
    }
    ~KeyboardMap()
    {
        if (desc)
            XkbFreeKeyboard(desc, 0, True);
    }
    KeyboardMap(const KeyboardMap&) = delete;
    KeyboardMap& operator=(const KeyboardMap&) = delete;

    // The upper-cased character of the key with no modifier in the group in effect.
    std::optional<QString> keyString(int keyCode) const
    {
        if (!desc || keyCode < desc->min_key_code || keyCode > desc->max_key_code)
            return std::nullopt;
        unsigned consumed = 0;
        KeySym keysym = NoSymbol;
        // XKB's translation, so a key with fewer groups than the one in effect wraps the way a
        // real key press does.
        if (!XkbTranslateKeyCode(desc, static_cast<KeyCode>(keyCode), XkbBuildCoreState(0, group), &consumed,
                                 &keysym)
            || keysym == NoSymbol)
            return std::nullopt;
        const char32_t character = characterOfKeysym(keysym);
        if (!character)
            return std::nullopt;
        return QString::fromUcs4(&character, 1).toUpper();
    }

    XkbDescPtr desc = nullptr;
    unsigned group = 0;
};

}  // namespace

X11PasteKeystroke::X11PasteKeystroke(QString displayName)
    : m_displayName(std::move(displayName))
{
}

X11PasteKeystroke::~X11PasteKeystroke() = default;

quint16 X11PasteKeystroke::cachedKeyCode()
{
    return g_keyCodeOfV.load();
}

void X11PasteKeystroke::forgetCachedKeyCode()
{
    g_keyCodeOfV.store(0);
}

X11PasteKeystroke::Connection* X11PasteKeystroke::connection()
{
    if (m_connection)
        return m_connection.get();
    const QByteArray name = m_displayName.toLocal8Bit();
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!display)
        return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        spdlog::warn("The X display has no XTest extension");
        XCloseDisplay(display);
        return nullptr;
    }
    m_connection = std::make_unique<Connection>();
    m_connection->display = display;
    return m_connection.get();
}

std::optional<QString> X11PasteKeystroke::keyStringForKeyCode(int keyCode)
{
    if (keyCode < 0)
        return std::nullopt;
    Connection* x = connection();
    if (!x)
        return std::nullopt;
    return KeyboardMap(x->display).keyString(keyCode);
}

bool X11PasteKeystroke::postCommandV()
{
    if (!dispatch::isMainThread()) {
        spdlog::error("Paste keystroke refused: not on the main thread");
        return false;
    }
    Connection* x = connection();
    if (!x) {
        spdlog::error("No event source");
        return false;
    }
    Display* display = x->display;

    if (g_keyCodeOfV.load() == 0) {
        const KeyboardMap map(display);
        std::map<QString, int> keyCodes;
        if (map.desc)
            for (int code = map.desc->min_key_code; code <= map.desc->max_key_code; ++code) {
                const std::optional<QString> key = map.keyString(code);
                if (key && !key->isEmpty())
                    keyCodes[*key] = code;
            }
        const auto v = keyCodes.find(QStringLiteral("V"));
        if (v == keyCodes.end()) {
            spdlog::warn("No V key in the current keyboard layout; nothing pasted");
            return false;
        }
        g_keyCodeOfV.store(static_cast<quint16>(v->second));
    }
    const KeyCode keyOfV = static_cast<KeyCode>(g_keyCodeOfV.load());

    XModifierKeymap* modifiers = XGetModifierMapping(display);
    if (!modifiers) {
        spdlog::warn("No modifier map from the X server; nothing pasted");
        return false;
    }
    const auto keyOf = [modifiers](int index, int i) {
        return modifiers->modifiermap[index * modifiers->max_keypermod + i];
    };
    KeyCode control = 0;
    for (int i = 0; i < modifiers->max_keypermod && !control; ++i)
        control = keyOf(ControlMapIndex, i);
    if (!control) {
        XFreeModifiermap(modifiers);
        spdlog::warn("No Control key in the keyboard map; nothing pasted");
        return false;
    }

    char keys[32] = {};
    XQueryKeymap(display, keys);
    // Modifiers still held from the hotkey would turn the paste into another shortcut.
    for (int index : {ShiftMapIndex, Mod1MapIndex, Mod3MapIndex, Mod4MapIndex, Mod5MapIndex})
        for (int i = 0; i < modifiers->max_keypermod; ++i) {
            const KeyCode code = keyOf(index, i);
            if (code && isDown(keys, code))
                XTestFakeKeyEvent(display, code, False, CurrentTime);
        }
    XFreeModifiermap(modifiers);

    // A Control the user holds stays down: releasing it would leave the keyboard state
    // out of step with the key under the finger.
    const bool pressControl = !isDown(keys, control);
    if (pressControl)
        XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, keyOfV, True, CurrentTime);
    XTestFakeKeyEvent(display, keyOfV, False, CurrentTime);
    if (pressControl)
        XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
    return true;
}
