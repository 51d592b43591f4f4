#include "windows/messageboxalerts.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon boxIcon(Alert::Icon icon)
{
    switch (icon) {
    case Alert::Icon::Information: return QMessageBox::Information;
    case Alert::Icon::Warning: return QMessageBox::Warning;
    case Alert::Icon::Critical: return QMessageBox::Critical;
    case Alert::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void MessageBoxAlerts::show(QWidget* parent, const Alert& alert, Answer answer)
{
    QWidget* window = parent ? parent->window() : nullptr;
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(boxIcon(alert.icon));
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    // Server and user texts are never read as markup. Qt guesses the informative label's
    // format from its text, so that label is set apart.
    box->setTextFormat(Qt::PlainText);
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    // Wide enough that a sentence of informative text is not broken every few characters.
    for (auto* label : box->findChildren<QLabel*>())
        if (label->objectName() == QLatin1String("qt_msgbox_label")
            || label->objectName() == QLatin1String("qt_msgbox_informativelabel"))
            label->setMinimumWidth(320);

    QList<QAbstractButton*> buttons;
    if (alert.buttons.isEmpty()) {
        // The interface is Chinese throughout; Qt's own "OK" would stand out.
        QPushButton* ok = box->addButton(QMessageBox::Ok);
        ok->setText(QStringLiteral("确定"));
        buttons << ok;
    } else {
        for (const QString& title : alert.buttons)
            buttons << box->addButton(title, QMessageBox::AcceptRole);
    }
    const int escape = alert.escapeIndex();
    box->setEscapeButton(buttons.value(escape));
    if (auto* def = qobject_cast<QPushButton*>(buttons.value(alert.defaultButton)))
        box->setDefaultButton(def);

    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, escape, answer] {
        const qsizetype chosen = buttons.indexOf(box->clickedButton());
        if (answer)
            answer(chosen < 0 ? escape : int(chosen));
    });
    // Window-modal over a window (open() makes it so); application-modal when there is none.
    if (window) {
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}
