#pragma once

// Xlib's display type, declared without Xlib's macros (None, KeyPress, Bool), which would
// break the Qt headers of whoever includes this.
struct _XDisplay;

// The X display of Qt's own connection; null without a GUI application or off X11.
_XDisplay* qtX11Display();
