#include "windows/preferences/userinfoviewcontroller.h"

#include "store/configuremanager.h"
#include "sync/userlogout.h"
#include "windows/alerts.h"

#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

UserInfoViewController::UserInfoViewController(PreferencesServices services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    setObjectName(QStringLiteral("UserInfoViewController"));
    m_userName = new QLabel(this);
    m_userName->setObjectName(QStringLiteral("userName"));
    m_userNameText = QStringLiteral("当前用户：%1").arg(ConfigureManager::sharedInstance().loginUserEmail().value_or(QString()));
    m_userName->setText(m_userNameText);
    m_userName->setTextFormat(Qt::PlainText);
    m_userName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_encryptButton = new QPushButton(QStringLiteral("端对端加密"), this);
    m_encryptButton->setObjectName(QStringLiteral("encryptButton"));
    m_logoutButton = new QPushButton(QStringLiteral("退出登录"), this);
    m_logoutButton->setObjectName(QStringLiteral("LogoutButton"));
    for (QPushButton* button : {m_encryptButton, m_logoutButton})
        button->setMinimumWidth(160);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 70, 28, 28);
    layout->setSpacing(16);
    layout->addWidget(m_userName, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(m_encryptButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_logoutButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_logoutButton, &QPushButton::clicked, this, [this] { loginout(); });
    connect(m_encryptButton, &QPushButton::clicked, this, [this] { encryptButtonClicked(); });
}

void UserInfoViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A long address is elided in the middle, keeping its start and its domain, not cut off
    // by the window; the whole text stays in the tooltip.
    const QMargins margins = layout()->contentsMargins();
    const int room = std::max(40, width() - margins.left() - margins.right());
    const QString shown = m_userName->fontMetrics().elidedText(m_userNameText, Qt::ElideMiddle, room);
    m_userName->setText(shown);
    m_userName->setToolTip(shown == m_userNameText ? QString() : m_userNameText);
}

void UserInfoViewController::loginout()
{
    // The logout removes every local clip, favourites and clips never uploaded included.
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("退出登录?");
    alert.informativeText = QStringLiteral("退出登录将删除本机的全部历史纪录, 包括收藏和尚未上传的剪贴。");
    alert.buttons = {QStringLiteral("退出登录"), QStringLiteral("取消")};
    alert.defaultButton = 1;
    alert.escapeButton = 1;
    QPointer<UserInfoViewController> self(this);
    Alerts::current().show(window(), alert, [self](int button) {
        if (self && button == 0)
            self->logout();
    });
}

void UserInfoViewController::logout()
{
    UserLogout::logOut();
}

void UserInfoViewController::encryptButtonClicked()
{
    if (m_services.showEncryptWindow)
        m_services.showEncryptWindow();
}

void UserInfoViewController::activeEncryptPINView()
{
    if (m_services.activeEncrypt)
        m_services.activeEncrypt();
}
