#include "app/menupopup.h"

#include <QCursor>
#include <QMenu>

#include <spdlog/spdlog.h>

void MenuPopup::popUp(QMenu* menu)
{
    popUp(menu, QCursor::pos());
}

void MenuPopup::popUp(QMenu* menu, const QPoint& globalPosition)
{
    if (!menu) {
        spdlog::warn("no menu to show");
        return;
    }
    // A popup grabs the keyboard and the pointer without touching the input focus (unlike the
    // hidden key window the menu needs on macOS); closing it gives both back to the window that
    // had them.
    menu->popup(globalPosition);
}
