#include "platform/x11/x11displayprobe.h"

#include <X11/Xlib.h>

bool x11DisplayOpens(const QString& displayName)
{
    const QByteArray name = displayName.toLocal8Bit();
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}
