#pragma once

#include "windows/sheetdialog.h"

#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The sheet that asks for the current account's login password before the encryption
// profile is reset. A non-empty entry goes to resultHandler as typed and the sheet stays up
// until its owner dismisses it; an empty one is ignored. Cancel (the button, Escape, closing
// it) dismisses the sheet, then calls cancelHandler.
class EncryptAccountPwdViewController : public SheetDialog {
    Q_OBJECT
public:
    using ResultHandler = std::function<void(const QString& pwd)>;
    using CancelHandler = std::function<void()>;

    // The prompt when no account e-mail is stored.
    static QString defaultInfoText();

    explicit EncryptAccountPwdViewController(QWidget* parent = nullptr);

    void setResultHandler(ResultHandler handler) { m_resultHandler = std::move(handler); }
    void setCancelHandler(CancelHandler handler) { m_cancelHandler = std::move(handler); }

    QLabel* infoLabel() const { return m_infoLabel; }
    QLineEdit* pwdTextField() const { return m_pwdTextField; }
    QPushButton* confirmButton() const { return m_confirmButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

public slots:
    void confirmClicked();
    void cancelClicked();

protected:
    void cancelRequested() override;

private:
    QLabel* m_infoLabel = nullptr;
    QLineEdit* m_pwdTextField = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_confirmButton = nullptr;
    ResultHandler m_resultHandler;
    CancelHandler m_cancelHandler;
};
