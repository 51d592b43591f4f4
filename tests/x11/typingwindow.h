#pragma once

#include "support/testenv.h"

#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

// The window the user is typing in when the menu opens or a paste arrives: a window of this
// process (another X client than the program under test) whose target has the keyboard focus.
inline bool showFocused(QWidget& window, QWidget& target)
{
    window.show();
    window.activateWindow();
    target.setFocus();
    return testenv::waitUntil([&] { return window.isActiveWindow() && target.hasFocus(); });
}

// A text field in the window, shown with the focus; null when the focus never arrived.
inline QLineEdit* showFocusedField(QWidget& window)
{
    auto* field = new QLineEdit(&window);
    (new QVBoxLayout(&window))->addWidget(field);
    return showFocused(window, *field) ? field : nullptr;
}
