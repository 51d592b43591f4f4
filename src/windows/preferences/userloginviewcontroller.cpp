#include "windows/preferences/userloginviewcontroller.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "service/findpwdrequestmanager.h"
#include "service/loginrequestmanager.h"
#include "service/registerrequestmanager.h"
#include "service/syncpublickeyrequestmanager.h"
#include "store/configuremanager.h"
#include "windows/alerts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

constexpr int kFirstButton = 1000;

bool codeIs(const QVariant& result, qint64 code)
{
    return NumberReader::jsonInteger(result.toMap().value(QStringLiteral("code"))) == code;
}

void showAlertOn(QWidget* window, const QString& button, const QString& message, const QString& informative = {})
{
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = message;
    alert.informativeText = informative;
    alert.buttons = {button};
    Alerts::current().show(window, alert);
}

void showLoginFailure(QWidget* window, const QString& email)
{
    showAlertOn(window, QStringLiteral("确认"), QStringLiteral("用户名或密码错误"),
                QStringLiteral("确认下面邮箱？\n%1").arg(email));
}

// No HTTP answer at all: the network failed, not the account.
bool isTransportFailure(int status, const std::optional<RequestError>& error)
{
    return error.has_value() && status == RequestManager::kNoStatus;
}

void showNetworkFailure(QWidget* window)
{
    showAlertOn(window, QStringLiteral("知道了"), QStringLiteral("网络问题, 请稍后重试"));
}

// After a login or registration: the push channel connects and the clip menu is rebuilt,
// whether or not the pane is still there ("USER_LOGINED" may have replaced it already).
void afterLogin(const PreferencesServices& services)
{
    if (services.connectMqtt)
        services.connectMqtt();
    dispatch::mainAsync([rebuild = services.rebuildMenu] {
        if (rebuild)
            rebuild();
    });
}

}  // namespace

UserloginViewController::UserloginViewController(PreferencesServices services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_login(std::make_shared<LoginRequestManager>())
    , m_regis(std::make_shared<RegisterRequestManager>())
    , m_findPwdManager(std::make_shared<FindPwdRequestManager>())
{
    setObjectName(QStringLiteral("UserloginViewController"));
    m_selectPopUpButton = new QComboBox(this);
    m_selectPopUpButton->addItems({QStringLiteral("登录"), QStringLiteral("注册"), QStringLiteral("找回密码")});
    m_nameField = new QLineEdit(this);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("邮箱"));
    m_pwdField = new QLineEdit(this);
    m_pwdField->setObjectName(QStringLiteral("pwdField"));
    m_pwdField->setPlaceholderText(QStringLiteral("密码"));
    m_pwdField->setEchoMode(QLineEdit::Password);
    m_loginButton = new QPushButton(this);
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    m_loginButton->setMinimumWidth(160);

    auto* form = new QFormLayout;
    form->setVerticalSpacing(14);
    form->addRow(QStringLiteral("操作："), m_selectPopUpButton);
    form->addRow(QStringLiteral("邮箱："), m_nameField);
    form->addRow(QStringLiteral("密码："), m_pwdField);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(60, 60, 60, 28);
    layout->addLayout(form);
    layout->addSpacing(10);
    layout->addWidget(m_loginButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setTabOrder(m_nameField, m_pwdField);

    connect(m_selectPopUpButton, &QComboBox::currentIndexChanged, this, [this](int index) {
        switch (index) {
        case LoginMode: selectLogin(); break;
        case RegisterMode: selectRegistr(); break;
        case FindPwdMode: selectFindPwd(); break;
        default: break;
        }
    });
    connect(m_loginButton, &QPushButton::clicked, this, [this] { login(); });
    for (QLineEdit* field : {m_nameField, m_pwdField}) {
        // A long address is shown from its start again once the user leaves the field.
        connect(field, &QLineEdit::editingFinished, field, [field] { field->setCursorPosition(0); });
        connect(field, &QLineEdit::returnPressed, this, [this] { login(); });
    }

    m_selectPopUpButton->setCurrentIndex(LoginMode);
    selectLogin();
}

UserloginViewController::~UserloginViewController() = default;

bool UserloginViewController::isValidEmail(const QString& email)
{
    static const QRegularExpression rule(QStringLiteral("^[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return rule.match(email).hasMatch();
}

QString UserloginViewController::email() const
{
    QString text = m_nameField->text();
    text.remove(QLatin1Char(' '));
    return text;
}

void UserloginViewController::selectLogin()
{
    m_loginButton->setText(QStringLiteral("点击登录"));
    m_pwdField->setEnabled(true);
}

void UserloginViewController::selectRegistr()
{
    m_loginButton->setText(QStringLiteral("点击注册"));
    m_pwdField->setEnabled(true);
}

void UserloginViewController::selectFindPwd()
{
    m_loginButton->setText(QStringLiteral("找回密码"));
    m_pwdField->setEnabled(false);
    m_nameField->setFocus();
}

void UserloginViewController::showAlert(const QString& button, const QString& message, const QString& informative)
{
    showAlertOn(window(), button, message, informative);
}

void UserloginViewController::login()
{
    const int mode = m_selectPopUpButton->currentIndex();
    if (!m_loginButton->isEnabled() || m_nameField->text().isEmpty())
        return;
    if (mode != FindPwdMode && m_pwdField->text().isEmpty())
        return;
    const QString address = email();
    if (!isValidEmail(address)) {
        showAlert(QStringLiteral("确认"), QStringLiteral("邮箱格式存在问题，请输入正确的邮箱"));
        return;
    }
    if (mode == FindPwdMode)
        return startStep(mode);
    QPointer<UserloginViewController> self(this);
    askBeforeAnotherAccount(address, [self, mode] {
        if (self)
            self->startStep(mode);
    });
}

void UserloginViewController::askBeforeAnotherAccount(const QString& address, std::function<void()> proceed)
{
    ConfigureManager& account = ConfigureManager::sharedInstance();
    const QString keptEmail = account.loginUserEmail().value_or(QString());
    if (!account.historyKeptForUserId() || keptEmail.compare(address, Qt::CaseInsensitive) == 0)
        return proceed();
    // The history of a login that ended by itself is that account's: another account gets
    // none of it, and it goes only when the user says so.
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("登录另一个账号?");
    alert.informativeText = QStringLiteral("本机保留着账号 %1 的历史记录。登录另一个账号将先删除它们, 包括收藏和尚未上传的剪贴。")
                                .arg(keptEmail);
    alert.buttons = {QStringLiteral("删除并继续"), QStringLiteral("取消")};
    alert.defaultButton = 1;
    alert.escapeButton = 1;
    Alerts::current().show(window(), alert, [proceed = std::move(proceed)](int button) {
        if (button != 0)
            return;
        ConfigureManager::sharedInstance().purgeKeptHistory();
        proceed();
    });
}

void UserloginViewController::startStep(int mode)
{
    const QString address = email();
    QPointer<UserloginViewController> self(this);
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    switch (mode) {
    case LoginMode: loginFlow(); break;
    case RegisterMode:
        alert.messageText = QStringLiteral("确认邮箱：%1").arg(address);
        alert.informativeText = QStringLiteral("邮箱将用于您找回密码等其他服务，请您务必谨慎填写。");
        alert.buttons = {QStringLiteral("确认注册"), QStringLiteral("取消")};
        Alerts::current().show(window(), alert, [self](int button) {
            if (self)
                self->alertDidEndWithReturnCode(kFirstButton + button);
        });
        break;
    case FindPwdMode:
        alert.messageText = QStringLiteral("确认邮箱：%1").arg(address);
        alert.informativeText = QStringLiteral("将向此邮箱发送验证邮件，请确认邮箱是否正确？");
        alert.buttons = {QStringLiteral("确认"), QStringLiteral("取消")};
        Alerts::current().show(window(), alert, [self](int button) {
            if (self)
                self->FindPwdAlertDidEndWithReturnCode(kFirstButton + button);
        });
        break;
    default: break;
    }
}

void UserloginViewController::afterPublicKey(std::function<void()> then, std::function<void(QWidget*)> refused)
{
    QPointer<UserloginViewController> self(this);
    QPointer<QWidget> window = this->window();
    auto syncManager = std::make_shared<SyncPublicKeyRequestManager>();
    syncManager->request([=](const QVariant& result, int status, const std::optional<RequestError>& error) {
        if (!error && result.isValid())
            return then();
        if (self)
            self->m_loginButton->setEnabled(true);
        if (isTransportFailure(status, error))
            showNetworkFailure(window);
        else
            refused(window);
    });
}

void UserloginViewController::loginFlow()
{
    const QString address = email();
    const QString password = m_pwdField->text();
    // Off from the first step, so a second press cannot start a second login.
    m_loginButton->setEnabled(false);
    QPointer<UserloginViewController> self(this);
    QPointer<QWidget> window = this->window();
    const PreferencesServices services = m_services;
    const std::shared_ptr<LoginRequestManager> login = m_login;
    afterPublicKey(
        [=] {
            login->user = address;
            login->passwd = password;
            login->request([=](const QVariant& reply, int loginStatus, const std::optional<RequestError>& loginError) {
                if (self)
                    self->m_loginButton->setEnabled(true);
                if (!loginError && codeIs(reply, 0)) {
                    afterLogin(services);
                    return;
                }
                if (isTransportFailure(loginStatus, loginError))
                    showNetworkFailure(window);
                else
                    showLoginFailure(window, address);
            });
        },
        [address](QWidget* window) { showLoginFailure(window, address); });
}

void UserloginViewController::alertDidEndWithReturnCode(int code)
{
    if (code != kFirstButton)
        return;
    registerFlow(email(), m_pwdField->text());
}

void UserloginViewController::registerFlow(const QString& address, const QString& password)
{
    m_loginButton->setEnabled(false);
    QPointer<UserloginViewController> self(this);
    QPointer<QWidget> window = this->window();
    const PreferencesServices services = m_services;
    const std::shared_ptr<RegisterRequestManager> regis = m_regis;
    afterPublicKey(
        [=] {
            regis->username = address;
            regis->passwd = password;
            regis->request([=](const QVariant& reply, int registerStatus,
                               const std::optional<RequestError>& registerError) {
                if (self)
                    self->m_loginButton->setEnabled(true);
                if (isTransportFailure(registerStatus, registerError))
                    showNetworkFailure(window);
                if (registerError)
                    return;
                if (codeIs(reply, 0))
                    afterLogin(services);
                else if (codeIs(reply, 1001))
                    showAlertOn(window, QStringLiteral("知道了"),
                                QStringLiteral("邮箱：%1已注册，请更换其他邮箱").arg(address));
            });
        },
        [](QWidget* window) { showAlertOn(window, QStringLiteral("知道了"), QStringLiteral("网络错误")); });
}

void UserloginViewController::FindPwdAlertDidEndWithReturnCode(int code)
{
    if (code != kFirstButton)
        return;
    const QString address = email();
    m_loginButton->setEnabled(false);
    QPointer<UserloginViewController> self(this);
    QPointer<QWidget> window = this->window();
    m_findPwdManager->user_email = address;
    m_findPwdManager->request([=](const QVariant& reply, int, const std::optional<RequestError>& error) {
        if (self)
            self->m_loginButton->setEnabled(true);
        if (error)
            return;
        if (codeIs(reply, 0))
            showAlertOn(window, QStringLiteral("好的"), QStringLiteral("发送成功"),
                        QStringLiteral("已发送邮件到 %1, 请到邮箱查收，注意：某些邮件服务器会错将Nuvarel邮件当作垃圾邮件，请注意查看垃圾邮箱。").arg(address));
        else if (codeIs(reply, 1002))
            showAlertOn(window, QStringLiteral("知道了"), QStringLiteral("邮箱：%1不存在").arg(address));
    });
}
