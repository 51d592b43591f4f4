#include "platform/x11/x11selectionrefusal.h"

#include "platform/x11/x11qtdisplay.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <spdlog/spdlog.h>

// Xlib last: its macros (None, KeyPress, Bool) would break the Qt headers.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {

bool isProtocolTarget(const QByteArray& name)
{
    return name == "TARGETS" || name == "MULTIPLE" || name == "TIMESTAMP" || name == "SAVE_TARGETS"
           || name == "DELETE" || name == "INSERT_SELECTION" || name == "INSERT_PROPERTY";
}

}  // namespace

X11SelectionRefusal::X11SelectionRefusal(Serves serves)
    : m_serves(std::move(serves))
{
    if (Display* display = qtX11Display())
        m_clipboardAtom = XInternAtom(display, "CLIPBOARD", False);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11SelectionRefusal::~X11SelectionRefusal()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

QByteArray X11SelectionRefusal::atomName(unsigned long atom)
{
    if (const auto it = m_names.constFind(atom); it != m_names.cend())
        return *it;
    QByteArray name;
    if (Display* display = qtX11Display()) {
        if (char* text = XGetAtomName(display, atom)) {
            name = text;
            XFree(text);
        }
    }
    m_names.insert(atom, name);
    return name;
}

bool X11SelectionRefusal::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !m_clipboardAtom)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
        return false;
    const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
    if (request->selection != m_clipboardAtom)
        return false;
    const QByteArray target = atomName(request->target);
    if (target.isEmpty() || isProtocolTarget(target) || m_serves(target))
        return false;
    Display* display = qtX11Display();
    if (!display)
        return false;
    XEvent refusal = {};
    refusal.xselection.type = SelectionNotify;
    refusal.xselection.display = display;
    refusal.xselection.requestor = request->requestor;
    refusal.xselection.selection = request->selection;
    refusal.xselection.target = request->target;
    // None: the target cannot be given.
    refusal.xselection.property = 0;
    refusal.xselection.time = request->time;
    XSendEvent(display, request->requestor, False, NoEventMask, &refusal);
    XFlush(display);
    spdlog::debug("clipboard: refused the target {} the content does not have", target.toStdString());
    return true;
}
