#include "windows/preferences/aboutviewcontroller.h"

#include "platform/bundle.h"
#include "store/utils.h"

#include "preferencesfixture.h"

#include <QPushButton>

using namespace std::chrono_literals;

namespace {

class AboutPaneTest : public PreferencesTest {
protected:
    AboutViewController* about() { return showPane<AboutViewController>(3); }

    void serverAnnounces(const QString& version)
    {
        auto lock = server.lock();
        server.accountRoutes().state().latestVersion = version;
    }

    // Clicks the check button and waits for its alert.
    void checkAndWait(AboutViewController* pane)
    {
        const int before = alerts->count();
        pane->checkUpdate()->click();
        ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == before + 1; }, 20s));
    }

    static QString running() { return Bundle::shortVersion(); }
};

}  // namespace

TEST_F(AboutPaneTest, TheCheckComparesTheServersVersionWithThisOne)
{
    struct Case {
        QString server;
        bool newer;
    };
    const Case cases[] = {
        {running(), false},
        {running() + QStringLiteral(".0"), false},
        {QStringLiteral("0.0.1"), false},
        {QStringLiteral("999.1"), true},
    };
    for (const Case& c : cases) {
        UserDefaults::standard().remove(DefaultsKey::NewVersion);
        serverAnnounces(c.server);
        alerts->clear();
        alerts->scriptAnswers({1});
        const int rebuilds = menuRebuilds;
        checkAndWait(about());
        EXPECT_EQ(UserDefaults::standard().string(DefaultsKey::NewVersion), c.server);
        EXPECT_EQ(Utils::isNeedShowUpdate(), c.newer) << c.server.toStdString();
        EXPECT_TRUE(testenv::waitUntil([&] { return menuRebuilds == rebuilds + 1; }));
        const Alert alert = alerts->shown().first().alert;
        if (c.newer) {
            EXPECT_EQ(alert.messageText, QStringLiteral("新版本：999.1"));
            EXPECT_EQ(alert.informativeText, QStringLiteral("Fixes and improvements."));
            EXPECT_EQ(alert.buttons, (QStringList{QStringLiteral("去下载"), QStringLiteral("取消")}));
        } else {
            EXPECT_EQ(alert.messageText, QStringLiteral("您当前的版本是最新版")) << c.server.toStdString();
            EXPECT_EQ(alert.buttons, QStringList{QStringLiteral("知道了")});
        }
    }
    // "取消" opened nothing and kept the announced version for the menu.
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(UserDefaults::standard().string(DefaultsKey::NewVersion), QStringLiteral("999.1"));
}

TEST_F(AboutPaneTest, OnlyAWebAddressFromTheServerIsOpenedForTheDownload)
{
    struct Case {
        std::string url;
        bool opens;
    };
    const Case cases[] = {
        {"https://dl.example.com/nuvarel.deb", true},
        {"http://dl.example.com/", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"", false},
        {"https:///nohost", false},
    };
    for (const Case& c : cases) {
        opened.clear();
        alerts->clear();
        alerts->scriptAnswers({0});
        server.setFault("/check_version/", webdouble::Fault::rawBody(
            R"({"code":0,"data":{"version":"999.2","update_info":"新功能","download_url":")" + c.url + R"("}})"));
        checkAndWait(about());
        ASSERT_EQ(alerts->messages(), QStringList{QStringLiteral("新版本：999.2")});
        EXPECT_TRUE(testenv::waitUntil([&] { return alerts->pendingCount() == 0; }));
        EXPECT_EQ(opened.size(), c.opens ? 1 : 0) << c.url;
        if (c.opens && !opened.isEmpty()) {
            EXPECT_EQ(opened.first(), QUrl(QString::fromStdString(c.url)));
        }
    }
}

// A failed check says so once, in words, and keeps the version known; a bare reply means latest.
TEST_F(AboutPaneTest, AFailedCheckSaysSoAndABareReplyMeansLatest)
{
    UserDefaults::standard().setValue(DefaultsKey::NewVersion, QStringLiteral("0.0.1"));
    AboutViewController* pane = about();
    struct Case {
        webdouble::Fault fault;
        QString said;
    };
    const Case cases[] = {
        {webdouble::Fault::status(500), QStringLiteral("检查更新失败|网络问题, 请稍后重试")},
        {webdouble::Fault::replyCode(3), QStringLiteral("检查更新失败|服务器暂时无法回答, 请稍后重试")},
    };
    for (const Case& c : cases) {
        alerts->clear();
        server.setFault("/check_version/", c.fault);
        pane->checkUpdate()->click();
        EXPECT_FALSE(pane->checkUpdate()->isEnabled());
        ASSERT_TRUE(testenv::waitUntil([&] { return pane->checkUpdate()->isEnabled() && alerts->count() == 1; }, 20s));
        EXPECT_EQ(alerts->texts(), QStringList{c.said});
        EXPECT_EQ(UserDefaults::standard().string(DefaultsKey::NewVersion), QStringLiteral("0.0.1"));
    }

    alerts->clear();
    server.setFault("/check_version/", webdouble::Fault::rawBody(R"({"code":0,"data":{}})"));
    checkAndWait(pane);
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("您当前的版本是最新版")});
    EXPECT_FALSE(UserDefaults::standard().contains(DefaultsKey::NewVersion));
}

TEST_F(AboutPaneTest, WhileACheckRunsTheButtonStartsNoSecond)
{
    server.setFault("/check_version/", webdouble::Fault::delayed(400ms));
    AboutViewController* pane = about();
    pane->checkUpdate()->click();
    pane->checkUpdate()->click();
    pane->check_update();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }, 20s));
    EXPECT_EQ(server.requestsTo("/check_version/").size(), 1u);
    EXPECT_TRUE(pane->checkUpdate()->isEnabled());
}

TEST_F(AboutPaneTest, ThePaneChecksAtOnceOnlyWhileAnUpdateIsPending)
{
    about();
    EXPECT_EQ(server.requestsTo("/check_version/").size(), 0u);
    UserDefaults::standard().setValue(DefaultsKey::NewVersion, QStringLiteral("999.0"));
    about();
    EXPECT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }, 20s));
    EXPECT_EQ(server.requestsTo("/check_version/").size(), 1u);
}

TEST_F(AboutPaneTest, TheHomePageIsTheStoredWebAddressOrTheBuiltInOne)
{
    struct Case {
        QVariant stored;
        QUrl opens;
    };
    const Case cases[] = {
        {QVariant(), AboutViewController::builtinHomePage()},
        {QVariant(QString()), AboutViewController::builtinHomePage()},
        {QVariant(QStringLiteral("https://home.example.org/zh/")), QUrl(QStringLiteral("https://home.example.org/zh/"))},
        {QVariant(QStringLiteral("file:///home/user/.ssh/id_rsa")), AboutViewController::builtinHomePage()},
        {QVariant(QStringLiteral("smb://share/x")), AboutViewController::builtinHomePage()},
    };
    for (const Case& c : cases) {
        UserDefaults::standard().setValue(DefaultsKey::Homepage, c.stored);
        opened.clear();
        about()->homeButton()->click();
        EXPECT_EQ(opened, QList<QUrl>{c.opens}) << c.stored.toString().toStdString();
    }
    EXPECT_TRUE(AboutViewController::isWebAddress(AboutViewController::builtinHomePage()));
}

TEST_F(AboutPaneTest, AReplyThatArrivesAfterAPaneSwitchIsStillKept)
{
    UserDefaults::standard().remove(DefaultsKey::NewVersion);
    serverAnnounces(QStringLiteral("999.2"));
    // Slow enough that the user has moved on before the answer.
    server.setFault("/check_version/", webdouble::Fault::delayed(1500ms));
    QPointer<AboutViewController> pane = about();
    const int rebuilds = menuRebuilds;
    pane->checkUpdate()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/check_version/").size() == 1; }, 20s));
    window().showPanel(0);
    drainMainQueue();
    ASSERT_TRUE(pane.isNull());

    ASSERT_TRUE(testenv::waitUntil([&] { return UserDefaults::standard().string(DefaultsKey::NewVersion).has_value(); }, 20s));
    EXPECT_EQ(UserDefaults::standard().string(DefaultsKey::NewVersion), QStringLiteral("999.2"));
    EXPECT_TRUE(Utils::isNeedShowUpdate());
    EXPECT_TRUE(testenv::waitUntil([&] { return menuRebuilds == rebuilds + 1; }));
    // The pane it was for is gone: nothing is shown over the pane the user chose since.
    EXPECT_EQ(alerts->count(), 0);
}

// The settings file keeps an announced version of at most 64 characters; a longer one is no
// version and is not kept.
TEST_F(AboutPaneTest, AnOverlongAnnouncedVersionIsNotKept)
{
    UserDefaults::standard().setValue(DefaultsKey::NewVersion, QStringLiteral("0.0.1"));
    serverAnnounces(QString(100001, QLatin1Char('9')));
    alerts->scriptAnswers({0});
    checkAndWait(about());
    EXPECT_FALSE(UserDefaults::standard().contains(DefaultsKey::NewVersion));
    EXPECT_FALSE(Utils::isNeedShowUpdate());
}
