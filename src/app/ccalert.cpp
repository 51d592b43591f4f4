#include "app/ccalert.h"

CCAlert::CCAlert(QWidget* parent)
    : QMessageBox(parent)
{
}
