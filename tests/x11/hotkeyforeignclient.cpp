#include "hotkeyforeignclient.h"

#include "platform/x11/keytranslationx11.h"

#include <X11/Xlib.h>

namespace {

int g_error = 0;

int recordError(Display*, XErrorEvent* error)
{
    g_error = error->error_code;
    return 0;
}

}  // namespace

HotkeyForeignClient::HotkeyForeignClient() : m_display(XOpenDisplay(nullptr)) {}

HotkeyForeignClient::~HotkeyForeignClient()
{
    if (m_display)
        XCloseDisplay(static_cast<Display*>(m_display));
}

bool HotkeyForeignClient::grab(const Shortcut& shortcut, bool withCapsLock)
{
    auto* display = static_cast<Display*>(m_display);
    const unsigned int keycode = serverKeyCode(shortcut);
    if (!display || keycode == 0)
        return false;
    unsigned int modifiers = KeyTranslationX11::x11ModifiersForFlags(shortcut.modifierFlags);
    if (withCapsLock)
        modifiers |= LockMask;
    XSync(display, False);
    g_error = 0;
    XErrorHandler previous = XSetErrorHandler(recordError);
    XGrabKey(display, static_cast<int>(keycode), modifiers, DefaultRootWindow(display), False, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);
    return g_error == 0;
}

void HotkeyForeignClient::ungrabAll()
{
    auto* display = static_cast<Display*>(m_display);
    if (!display)
        return;
    XUngrabKey(display, AnyKey, AnyModifier, DefaultRootWindow(display));
    XSync(display, False);
}

unsigned int HotkeyForeignClient::serverKeyCode(const Shortcut& shortcut) const
{
    auto* display = static_cast<Display*>(m_display);
    const auto keysym = KeyTranslationX11::keysymForKeyCode(shortcut.keyCode);
    if (!display || !keysym)
        return 0;
    return XKeysymToKeycode(display, *keysym);
}
