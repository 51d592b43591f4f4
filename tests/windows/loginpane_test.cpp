#include "windows/preferences/userinfoviewcontroller.h"
#include "windows/preferences/userloginviewcontroller.h"

#include "preferencesfixture.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

class LoginPaneTest : public PreferencesTest {
protected:
    UserloginViewController* loginPane() { return showPane<UserloginViewController>(1); }

    UserloginViewController* fill(int mode, const QString& email, const QString& password)
    {
        return fillLoginPane(loginPane(), mode, email, password);
    }

    static QString sentEmail(const webdouble::RecordedRequest& request)
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object().value(QStringLiteral("username")).toString();
    }
};

}  // namespace

TEST(LoginPaneEmailRule, AddressesAreCheckedByTheRule)
{
    struct Case {
        const char* email;
        bool valid;
    };
    const Case cases[] = {
        {"ann@example.com", true},       {"Ann.Lee@Mail.Example.COM", true}, {"a+tag@example.info", true},
        {"a_b%c-d@ex-ample.cn", true},   {"ann@example.museum", false},      {"ann@example.c", false},
        {"ann@example", false},          {"annexample.com", false},          {"ann@@example.com", false},
        {"ann lee@example.com", false},  {"张三@example.com", false},        {"ann@example.c0m", false},
        {"@example.com", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserloginViewController::isValidEmail(QString::fromUtf8(c.email)), c.valid) << c.email;
}

TEST_F(LoginPaneTest, ModesSetTheButtonAndThePasswordField)
{
    UserloginViewController* pane = loginPane();
    EXPECT_EQ(pane->selectPopUpButton()->currentIndex(), 0);
    EXPECT_EQ(pane->loginButton()->text(), QStringLiteral("点击登录"));
    pane->selectPopUpButton()->setCurrentIndex(1);
    EXPECT_EQ(pane->loginButton()->text(), QStringLiteral("点击注册"));
    EXPECT_TRUE(pane->pwdField()->isEnabled());
    pane->selectPopUpButton()->setCurrentIndex(2);
    EXPECT_EQ(pane->loginButton()->text(), QStringLiteral("找回密码"));
    EXPECT_FALSE(pane->pwdField()->isEnabled());
    pane->selectPopUpButton()->setCurrentIndex(0);
    EXPECT_TRUE(pane->pwdField()->isEnabled());
}

TEST_F(LoginPaneTest, EmptyFieldsDoNothingAndABadAddressGetsTheFormatAlert)
{
    fill(0, QString(), QStringLiteral("pw"))->loginButton()->click();
    fill(0, QStringLiteral("ann@example.com"), QString())->loginButton()->click();
    fill(1, QStringLiteral("ann@example.com"), QString())->loginButton()->click();
    testenv::waitUntil([&] { return alerts->count() > 0; }, 200ms);
    EXPECT_EQ(alerts->count(), 0);
    EXPECT_TRUE(server.requests().empty());

    pressAndWait(fill(0, QStringLiteral("ann@example.abcde"), QStringLiteral("pw")), 1);
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("邮箱格式存在问题，请输入正确的邮箱")});
    EXPECT_EQ(alerts->shown().first().alert.buttons, QStringList{QStringLiteral("确认")});
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(LoginPaneTest, EveryLoginOutcomeGetsItsAnswer)
{
    struct Case {
        const char* name;
        const char* typedEmail;
        const char* password;
        std::string faultPath;
        std::optional<webdouble::Fault> fault;
        bool logsIn;
    };
    const Case cases[] = {
        {"wrong password", "fay@example.com", "nope", "", std::nullopt, false},
        {"no public key", "fay@example.com", "pw-fay", "/public_key/", webdouble::Fault::status(503), false},
        {"public key not JSON", "fay@example.com", "pw-fay", "/public_key/", webdouble::Fault::rawBody(""), false},
        {"login server error", "fay@example.com", "pw-fay", "/login_v2/", webdouble::Fault::status(500), false},
        {"login refused", "fay@example.com", "pw-fay", "/login_v2/", webdouble::Fault::replyCode(1), false},
        {"spaces around and inside", "  fa y@example.com ", "pw-fay", "", std::nullopt, true},
    };
    server.addAccount(QStringLiteral("fay@example.com"), QStringLiteral("pw-fay"));
    for (const Case& c : cases) {
        logOutQuietly();
        server.clearFaults();
        server.clearRequests();
        if (c.fault)
            server.setFault(c.faultPath, *c.fault);
        alerts->clear();
        const int connects = mqttConnects;
        UserloginViewController* pane = fill(0, QString::fromUtf8(c.typedEmail), QString::fromUtf8(c.password));
        pressAndWait(pane, c.logsIn ? 0 : 1);
        EXPECT_EQ(ConfigureManager::sharedInstance().isLogined(), c.logsIn) << c.name;
        EXPECT_EQ(mqttConnects - connects, c.logsIn ? 1 : 0) << c.name;
        if (!c.logsIn) {
            EXPECT_EQ(alerts->texts(), QStringList{QStringLiteral("用户名或密码错误|确认下面邮箱？\nfay@example.com")}) << c.name;
        } else {
            ASSERT_EQ(server.requestsTo("/login_v2/").size(), 1u);
            EXPECT_EQ(sentEmail(server.requestsTo("/login_v2/").front()), QStringLiteral("fay@example.com"));
            EXPECT_TRUE(testenv::waitUntil([&] { return shownPane<UserInfoViewController>() != nullptr; }));
        }
    }
}

// No answer at all from the network is a network problem, not a wrong password; a server that
// answers with an error still gets the answers above.
TEST_F(LoginPaneTest, ADeadNetworkIsToldAsANetworkProblem)
{
    const QString network = QStringLiteral("网络问题, 请稍后重试|");
    const QString confirm =
        QStringLiteral("确认邮箱：%1|邮箱将用于您找回密码等其他服务，请您务必谨慎填写。");
    struct Case {
        const char* name;
        int mode;  // 0 login, 1 registration
        bool deadServer;
        std::string slowPath;  // a step that never answers within the transfer timeout
    };
    const Case cases[] = {
        {"login, nothing listening", 0, true, ""},
        {"login, the login step times out", 0, false, "/login_v2/"},
        {"registration, nothing listening", 1, true, ""},
        {"registration, the registration step times out", 1, false, "/register_v2/"},
    };
    server.addAccount(QStringLiteral("hal@example.com"), QStringLiteral("pw-hal"));
    const QString liveBase = QString::fromStdString(server.baseURL());
    for (const Case& c : cases) {
        logOutQuietly();
        server.clearFaults();
        alerts->clear();
        RequestManager::sharedSession().setTransferTimeout(HttpSession::kDefaultTransferTimeout);
        // Port 1 on loopback: the connection is refused at once.
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL,
                                          c.deadServer ? QStringLiteral("http://127.0.0.1:1") : liveBase);
        if (!c.slowPath.empty()) {
            RequestManager::sharedSession().setTransferTimeout(std::chrono::milliseconds(300));
            server.setFault(c.slowPath, webdouble::Fault::delayed(std::chrono::seconds(5)));
        }
        const QString email = c.mode == 0 ? QStringLiteral("hal@example.com") : QStringLiteral("ida@example.com");
        if (c.mode == 1)
            alerts->scriptAnswers({0});
        pressAndWait(fill(c.mode, email, QStringLiteral("pw-hal")), c.mode == 0 ? 1 : 2);
        const QStringList expected = c.mode == 0 ? QStringList{network} : QStringList{confirm.arg(email), network};
        EXPECT_EQ(alerts->texts(), expected) << c.name;
        EXPECT_EQ(alerts->shown().last().alert.buttons, QStringList{QStringLiteral("知道了")}) << c.name;
        EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined()) << c.name;
    }
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, liveBase);
}

TEST_F(LoginPaneTest, TheButtonIsOffFromThePublicKeyStepSoOnePressStartsOneLogin)
{
    server.addAccount(QStringLiteral("gus@example.com"), QStringLiteral("pw-gus"));
    server.setFault("/public_key/", webdouble::Fault::delayed(300ms));
    UserloginViewController* pane = fill(0, QStringLiteral("gus@example.com"), QStringLiteral("pw-gus"));
    pane->loginButton()->click();
    EXPECT_FALSE(pane->loginButton()->isEnabled());
    pane->loginButton()->click();
    pane->login();
    emit pane->pwdField()->returnPressed();
    ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserInfoViewController>() != nullptr; }, 20s));
    EXPECT_EQ(server.requestsTo("/public_key/").size(), 1u);
    EXPECT_EQ(server.requestsTo("/login_v2/").size(), 1u);
    // The login's own work ran although "USER_LOGINED" had replaced the pane.
    EXPECT_TRUE(testenv::waitUntil([&] { return mqttConnects == 1 && menuRebuilds >= 2; }));
}

TEST_F(LoginPaneTest, EveryRegistrationOutcomeGetsItsAnswer)
{
    struct Case {
        const char* name;
        const char* email;
        int confirm;
        std::string faultPath;
        std::optional<webdouble::Fault> fault;
        QStringList secondAlert;  // after the confirmation
        bool logsIn;
        size_t registerRequests;
    };
    const Case cases[] = {
        {"cancelled", "new1@example.com", 1, "", std::nullopt, {}, false, 0},
        {"taken", "old@example.com", 0, "", std::nullopt, {QStringLiteral("邮箱：old@example.com已注册，请更换其他邮箱")}, false, 1},
        {"no public key", "new2@example.com", 0, "/public_key/", webdouble::Fault::status(500), {QStringLiteral("网络错误")}, false, 0},
        {"another code", "new3@example.com", 0, "/register_v2/", webdouble::Fault::replyCode(7), {}, false, 1},
        {"server error", "new4@example.com", 0, "/register_v2/", webdouble::Fault::status(502), {}, false, 1},
        {"registered", "new5@example.com", 0, "", std::nullopt, {}, true, 1},
    };
    server.addAccount(QStringLiteral("old@example.com"), QStringLiteral("pw"));
    for (const Case& c : cases) {
        logOutQuietly();
        server.clearFaults();
        server.clearRequests();
        if (c.fault)
            server.setFault(c.faultPath, *c.fault);
        alerts->clear();
        alerts->scriptAnswers({c.confirm});
        const int connects = mqttConnects;
        pressAndWait(fill(1, QString::fromUtf8(c.email), QStringLiteral("pw-new")), 1 + int(c.secondAlert.size()));
        const QString email = QString::fromUtf8(c.email);
        EXPECT_EQ(alerts->texts().first(),
                  QStringLiteral("确认邮箱：%1|邮箱将用于您找回密码等其他服务，请您务必谨慎填写。").arg(email)) << c.name;
        EXPECT_EQ(alerts->shown().first().alert.buttons, (QStringList{QStringLiteral("确认注册"), QStringLiteral("取消")}));
        EXPECT_EQ(alerts->messages().mid(1), c.secondAlert) << c.name;
        EXPECT_EQ(server.requestsTo("/register_v2/").size(), c.registerRequests) << c.name;
        EXPECT_EQ(ConfigureManager::sharedInstance().isLogined(), c.logsIn) << c.name;
        EXPECT_EQ(mqttConnects - connects, c.logsIn ? 1 : 0) << c.name;
        if (c.confirm == 1) {
            EXPECT_TRUE(server.requests().empty()) << c.name;
        }
    }
}

TEST_F(LoginPaneTest, EveryResetOutcomeGetsItsAnswer)
{
    struct Case {
        const char* name;
        const char* email;
        int confirm;
        std::optional<webdouble::Fault> fault;
        QStringList texts;  // after the confirmation
        size_t requests;
    };
    const Case cases[] = {
        {"cancelled", "hal@example.com", 1, std::nullopt, {}, 0},
        {"sent", "hal@example.com", 0, std::nullopt,
         {QStringLiteral("发送成功|已发送邮件到 hal@example.com, 请到邮箱查收，注意：某些邮件服务器会错将Nuvarel邮件当作垃圾邮件，请注意查看垃圾邮箱。")}, 1},
        {"no such account", "nobody@example.com", 0, std::nullopt, {QStringLiteral("邮箱：nobody@example.com不存在|")}, 1},
        {"another code", "hal@example.com", 0, webdouble::Fault::replyCode(9), {}, 1},
        {"server error", "hal@example.com", 0, webdouble::Fault::status(500), {}, 1},
    };
    server.addAccount(QStringLiteral("hal@example.com"), QStringLiteral("pw"));
    for (const Case& c : cases) {
        server.clearFaults();
        server.clearRequests();
        if (c.fault)
            server.setFault("/forget_pwd/", *c.fault);
        alerts->clear();
        alerts->scriptAnswers({c.confirm});
        // The password may be empty here.
        pressAndWait(fill(2, QString::fromUtf8(c.email), QString()), 1 + int(c.texts.size()));
        const QString email = QString::fromUtf8(c.email);
        EXPECT_EQ(alerts->texts().first(), QStringLiteral("确认邮箱：%1|将向此邮箱发送验证邮件，请确认邮箱是否正确？").arg(email)) << c.name;
        EXPECT_EQ(alerts->shown().first().alert.buttons, (QStringList{QStringLiteral("确认"), QStringLiteral("取消")}));
        EXPECT_EQ(alerts->texts().mid(1), c.texts) << c.name;
        EXPECT_EQ(server.requestsTo("/forget_pwd/").size(), c.requests) << c.name;
        if (c.name == std::string("sent")) {
            EXPECT_EQ(alerts->shown().at(1).alert.buttons, QStringList{QStringLiteral("好的")});
        }
    }
    // Every mail went to the account's address, never to the unknown one.
    auto lock = server.lock();
    const std::vector<QString>& mails = server.accountRoutes().state().mailsSent;
    EXPECT_FALSE(mails.empty());
    EXPECT_EQ(std::count(mails.begin(), mails.end(), QStringLiteral("hal@example.com")), qsizetype(mails.size()));
}
