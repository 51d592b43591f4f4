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
    if (window && parentWidget() != window)
        setParent(window, windowFlags() | Qt::Sheet);
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
