#pragma once

#include "windows/alerts.h"

// Alerts as QMessageBoxes opened with open(): window-modal sheets over the parent's window,
// so no nested event loop runs inside the caller.
class MessageBoxAlerts : public Alerts {
public:
    void show(QWidget* parent, const Alert& alert, Answer answer = {}) override;
};
