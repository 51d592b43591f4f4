#include "platform/x11/globalhotkeyx11.h"

#include "platform/dispatch.h"
#include "platform/x11/keytranslationx11.h"
#include "platform/x11/x11qtdisplay.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QList>

#include <spdlog/spdlog.h>

// Xlib last: its macros (None, KeyPress, Bool) would break the Qt headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
// Xlib's Status type would hide GlobalHotkey::Status.
#undef Status

struct GlobalHotkeyX11::Grab {
    Shortcut shortcut;
    Action action;
    Display* display = nullptr;
    Window root = 0;
    KeyCode keycode = 0;
    unsigned int modifiers = 0;
    // The lock bits a press may carry on top of the modifiers.
    unsigned int lockMask = 0;
    QList<unsigned int> variants;
};

namespace {

// The modifier bit num lock sets on this server (Mod2 on nearly every keymap).
unsigned int numLockMask(Display* display)
{
    unsigned int mask = 0;
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map && numLock != 0) {
        for (int modifier = 0; modifier < 8 && mask == 0; ++modifier)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[modifier * map->max_keypermod + k] == numLock) {
                    mask = 1u << modifier;
                    break;
                }
    }
    if (map)
        XFreeModifiermap(map);
    return mask ? mask : Mod2Mask;
}

int g_lastErrorCode = 0;

int recordError(Display*, XErrorEvent* error)
{
    g_lastErrorCode = error->error_code;
    return 0;
}

}  // namespace

GlobalHotkeyX11::GlobalHotkeyX11() = default;

GlobalHotkeyX11::~GlobalHotkeyX11()
{
    // After the application is gone its display is closed, and the grabs with it.
    if (QCoreApplication::instance()) {
        unregisterAllShortcuts();
        if (m_filterInstalled)
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

GlobalHotkey::Status GlobalHotkeyX11::registerShortcut(const Shortcut& shortcut, Action action)
{
    Q_ASSERT(dispatch::isMainThread());
    unregisterAllShortcuts();
    if (shortcut.isOff())
        return Status::Off;

    Display* display = qtX11Display();
    if (!display) {
        spdlog::warn("hotkey: no X11 display, global hotkeys are not available");
        return Status::Unavailable;
    }
    const std::optional<unsigned long> keysym = KeyTranslationX11::keysymForKeyCode(shortcut.keyCode);
    const KeyCode keycode = keysym ? XKeysymToKeycode(display, *keysym) : 0;
    if (keycode == 0) {
        spdlog::warn("hotkey: no key for key code {}", shortcut.keyCode);
        return Status::UnknownKey;
    }

    auto grab = std::make_unique<Grab>();
    grab->shortcut = shortcut;
    grab->action = std::move(action);
    grab->display = display;
    grab->root = DefaultRootWindow(display);
    grab->keycode = keycode;
    grab->modifiers = KeyTranslationX11::x11ModifiersForFlags(shortcut.modifierFlags);
    const unsigned int numLock = numLockMask(display);
    grab->lockMask = LockMask | numLock;
    for (const unsigned int variant : {0u, static_cast<unsigned int>(LockMask), numLock, LockMask | numLock})
        if (!grab->variants.contains(grab->modifiers | variant))
            grab->variants << (grab->modifiers | variant);

    // A grab another client holds fails with BadAccess, which Xlib reports only to an error
    // handler once the requests have reached the server: catch it around a sync.
    XSync(display, False);
    g_lastErrorCode = 0;
    XErrorHandler previous = XSetErrorHandler(recordError);
    for (const unsigned int modifiers : grab->variants)
        XGrabKey(display, keycode, modifiers, grab->root, False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    const int error = g_lastErrorCode;
    if (error != 0) {
        // Some variants may have been granted; release them so nothing half-registered stays.
        for (const unsigned int modifiers : grab->variants)
            XUngrabKey(display, keycode, modifiers, grab->root);
        XSync(display, False);
    }
    XSetErrorHandler(previous);
    if (error != 0) {
        spdlog::warn("hotkey: key code {} with modifiers {:#x} could not be grabbed (X error {})", shortcut.keyCode,
                     shortcut.modifierFlags, error);
        return error == BadAccess ? Status::Taken : Status::UnknownKey;
    }

    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    m_grab = std::move(grab);
    ++m_generation;
    spdlog::info("hotkey: registered key code {} with modifiers {:#x}", shortcut.keyCode, shortcut.modifierFlags);
    return Status::Registered;
}

void GlobalHotkeyX11::unregisterAllShortcuts()
{
    ++m_generation;
    if (!m_grab)
        return;
    const std::unique_ptr<Grab> grab = std::move(m_grab);
    if (qtX11Display() != grab->display)
        return;
    for (const unsigned int modifiers : grab->variants)
        XUngrabKey(grab->display, grab->keycode, modifiers, grab->root);
    XSync(grab->display, False);
}

std::optional<Shortcut> GlobalHotkeyX11::registeredShortcut() const
{
    if (!m_grab)
        return std::nullopt;
    return m_grab->shortcut;
}

bool GlobalHotkeyX11::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_grab || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    const unsigned int state = press->state & 0xff & ~m_grab->lockMask;
    if (press->detail != m_grab->keycode || state != m_grab->modifiers)
        return false;
    // Queued, not run here: the action opens a menu with an event loop of its own, which must not
    // run inside Qt's handling of this X event.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        &m_context,
        [this, generation] {
            if (generation != m_generation || !m_grab)
                return;
            const Action action = m_grab->action;
            if (action)
                action();
        },
        Qt::QueuedConnection);
    return true;
}
