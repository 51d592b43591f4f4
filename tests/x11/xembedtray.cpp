#include "xembedtray.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

constexpr long kRequestDock = 0;

}  // namespace

XEmbedTray::XEmbedTray()
{
    Display* display = XOpenDisplay(nullptr);
    m_display = display;
    if (!display)
        return;
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    m_window = XCreateWindow(display, root, 0, 0, kSlot * 4, kSlot, 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel, &attributes);
    XSelectInput(display, m_window, StructureNotifyMask | SubstructureNotifyMask);
    XMapWindow(display, m_window);

    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    XSetSelectionOwner(display, selection, m_window, CurrentTime);
    if (XGetSelectionOwner(display, selection) != m_window)
        return;
    const long orientation = 0;  // horizontal
    XChangeProperty(display, m_window, XInternAtom(display, "_NET_SYSTEM_TRAY_ORIENTATION", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&orientation), 1);

    XClientMessageEvent manager = {};
    manager.type = ClientMessage;
    manager.window = root;
    manager.message_type = XInternAtom(display, "MANAGER", False);
    manager.format = 32;
    manager.data.l[0] = CurrentTime;
    manager.data.l[1] = static_cast<long>(selection);
    manager.data.l[2] = static_cast<long>(m_window);
    XSendEvent(display, root, False, StructureNotifyMask, reinterpret_cast<XEvent*>(&manager));
    XSync(display, False);
    m_running = true;
    m_changed.start();

    connect(&m_pump, &QTimer::timeout, this, &XEmbedTray::serve);
    m_pump.start(5);
}

XEmbedTray::~XEmbedTray()
{
    if (m_display)
        XCloseDisplay(static_cast<Display*>(m_display));
}

QPoint XEmbedTray::firstIconCentre() const
{
    auto* display = static_cast<Display*>(m_display);
    if (!display || m_icons.isEmpty())
        return {};
    Window root = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(display, m_icons.first(), &root, &x, &y, &width, &height, &border, &depth);
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, m_icons.first(), root, 0, 0, &rootX, &rootY, &child);
    return QPoint(rootX + static_cast<int>(width) / 2, rootY + static_cast<int>(height) / 2);
}

void XEmbedTray::serve()
{
    auto* display = static_cast<Display*>(m_display);
    const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        // An icon that goes (Qt makes its window anew for the tray's visual) frees its slot.
        if (event.type == DestroyNotify) {
            if (m_icons.removeAll(event.xdestroywindow.window) > 0)
                m_changed.restart();
            continue;
        }
        if (event.type == ReparentNotify && event.xreparent.parent != m_window) {
            if (m_icons.removeAll(event.xreparent.window) > 0)
                m_changed.restart();
            continue;
        }
        if (event.type != ClientMessage || event.xclient.message_type != opcode || event.xclient.data.l[1] != kRequestDock)
            continue;
        const Window icon = static_cast<Window>(event.xclient.data.l[2]);
        if (!m_icons.contains(icon))
            m_icons.append(icon);
        m_changed.restart();
        XReparentWindow(display, icon, m_window, static_cast<int>(m_icons.indexOf(icon)) * kSlot, 0);
        XResizeWindow(display, icon, kSlot, kSlot);
        XMapRaised(display, icon);
        XSync(display, False);
    }
    // An icon window gone before its reparent (Qt makes one anew for the tray's visual) sends
    // no notice to this window: only windows that are our children now count as docked.
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (m_icons.isEmpty() || !XQueryTree(display, m_window, &root, &parent, &children, &count))
        return;
    const QList<unsigned long> docked(children, children + count);
    XFree(children);
    if (m_icons.removeIf([&](unsigned long icon) { return !docked.contains(icon); }) > 0)
        m_changed.restart();
}
