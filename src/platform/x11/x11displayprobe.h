#pragma once

#include <QString>

// True when a connection to the X display (written like $DISPLAY; empty means $DISPLAY)
// opens; it is closed again at once.
bool x11DisplayOpens(const QString& displayName);
