#include "platform/x11/x11qtdisplay.h"

#include <QGuiApplication>

// Xlib last: its macros would break the Qt headers.
#include <X11/Xlib.h>

_XDisplay* qtX11Display()
{
    if (!qGuiApp)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}
