#include "windows/encryption/encryptaccountpwdviewcontroller.h"

#include "store/configuremanager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QString EncryptAccountPwdViewController::defaultInfoText()
{
    return QStringLiteral("请输入当前帐号的登录密码:");
}

EncryptAccountPwdViewController::EncryptAccountPwdViewController(QWidget* parent)
    : SheetDialog(parent)
{
    setObjectName(QStringLiteral("EncryptAccountPwdViewController"));
    setWindowTitle(QStringLiteral("登录密码"));
    m_infoLabel = new QLabel(defaultInfoText(), this);
    // The address is the account's own text, never markup.
    m_infoLabel->setTextFormat(Qt::PlainText);
    m_pwdTextField = new QLineEdit(this);
    m_pwdTextField->setEchoMode(QLineEdit::Password);
    m_pwdTextField->setMinimumWidth(260);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_confirmButton = new QPushButton(QStringLiteral("确定"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_confirmButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_infoLabel);
    layout->addWidget(m_pwdTextField);
    layout->addLayout(buttons);

    // Return in the field confirms through the default button, once.
    setDefaultButton(m_confirmButton);
    connect(m_confirmButton, &QPushButton::clicked, this, &EncryptAccountPwdViewController::confirmClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &EncryptAccountPwdViewController::cancelClicked);

    if (const auto email = ConfigureManager::sharedInstance().loginUserEmail())
        m_infoLabel->setText(QStringLiteral("请输入当前帐号(%1)的*登录*密码:").arg(*email));
    m_pwdTextField->setFocus();
}

void EncryptAccountPwdViewController::confirmClicked()
{
    const QString pwd = m_pwdTextField->text();
    if (pwd.isEmpty())
        return;
    if (m_resultHandler) {
        // The handler may drop this sheet; keep it callable until it returns.
        const ResultHandler handler = m_resultHandler;
        handler(pwd);
    }
}

void EncryptAccountPwdViewController::cancelClicked()
{
    dismiss();
    if (m_cancelHandler) {
        const CancelHandler handler = m_cancelHandler;
        handler();
    }
}

void EncryptAccountPwdViewController::cancelRequested()
{
    cancelClicked();
}
