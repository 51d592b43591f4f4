#pragma once

#include <QDialog>

class QPushButton;

// Base of the app's sheets: a dialog shown window-modal over another window with open(), so
// whoever presents it goes on at once and hears back through callbacks, never through a
// nested event loop.
//
// - presentAsSheetOver(view): shows the sheet over the window that holds `view`.
// - dismiss(): the owner (or the sheet itself) closes it; no cancel path runs.
// - Escape, the window's close button and reject() run the cancel path, cancelRequested().
//   By default it dismisses the sheet; a sheet with a cancel handler overrides it, and a
//   sheet that cannot be cancelled (a loading sheet) overrides it to do nothing, which
//   also keeps it open when its window is asked to close.
// - Buttons: a QPushButton in a dialog is "auto-default" (Return presses it when it has the
//   focus). Sheets make every button non-auto-default and mark at most one button as the
//   default with setDefaultButton(), so Return always means that one button, exactly once.
class SheetDialog : public QDialog {
    Q_OBJECT
public:
    explicit SheetDialog(QWidget* parent = nullptr);

    // Shows the sheet window-modal over the window of `view`; returns at once.
    void presentAsSheetOver(QWidget* view);
    // Closes the sheet without running its cancel path.
    void dismiss();
    bool isPresented() const { return isVisible(); }

    // Escape and closing the window: the cancel path.
    void reject() override;

protected:
    // The cancel path: dismisses the sheet unless overridden.
    virtual void cancelRequested();
    // Makes every push button of the sheet non-auto-default and `button` (if any) the default.
    void setDefaultButton(QPushButton* button);
};
