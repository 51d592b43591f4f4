#pragma once

#include <QPoint>

class QMenu;

// Pops a menu up at the pointer the way the hotkey and the tray icon need it: the menu takes
// the keyboard for as long as it is open (arrow keys, Return and its shortcuts work), but no
// window of ours is raised or activated, so the window the user was typing in keeps the input
// focus and the paste that follows a chosen clip lands there. Main thread only.
class MenuPopup {
public:
    // At the pointer; a menu already open moves there.
    static void popUp(QMenu* menu);
    static void popUp(QMenu* menu, const QPoint& globalPosition);
};
