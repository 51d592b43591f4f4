#include "windows/sheetdialog.h"

#include <QPushButton>

SheetDialog::SheetDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowModality(Qt::WindowModal);
}

void SheetDialog::presentAsSheetOver(QWidget* view)
{
    QWidget* window = view ? view->window() : nullptr;
    // A dialog, not Qt::Sheet: that flag means a sheet only on macOS and makes a drawer
    // elsewhere, which X11 window managers treat as a utility window.
    if (window && parentWidget() != window)
        setParent(window, (windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
    open();
}

void SheetDialog::dismiss()
{
    if (isVisible())
        done(QDialog::Accepted);
}

void SheetDialog::reject()
{
    cancelRequested();
}

void SheetDialog::cancelRequested()
{
    dismiss();
}

void SheetDialog::setDefaultButton(QPushButton* button)
{
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    if (button)
        button->setDefault(true);
}
