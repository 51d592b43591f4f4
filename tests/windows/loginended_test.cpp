#include "windows/preferences/userinfoviewcontroller.h"
#include "windows/preferences/userloginviewcontroller.h"

#include "preferencesfixture.h"

#include "platform/fake/usernotificationsfake.h"
#include "platform/usernotifications.h"
#include "service/initrequestmanager.h"
#include "store/dbkeeper.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

const QString kAnn = QStringLiteral("ann@example.com");
const QString kBob = QStringLiteral("bob@example.com");
const QString kPassword = QStringLiteral("secret");

// The service forgets the session (it restarted): the login ends by itself.
class LoginEndedTest : public PreferencesTest {
protected:
    void SetUp() override
    {
        PreferencesTest::SetUp();
        UserNotifications::setCurrent(notices);
        server.addAccount(kBob, kPassword);
    }
    void TearDown() override
    {
        UserNotifications::setCurrent(nullptr);
        PreferencesTest::TearDown();
    }

    // Ann logged in with two clips, the user pane shown; then the service forgets her session
    // and the start-up check hears of it.
    void annsSessionIsForgotten()
    {
        logInAs(kAnn, kPassword);
        savedText(QStringLiteral("ann's first clip"), 1700000100);
        savedText(QStringLiteral("ann's second clip"), 1700000200);
        ASSERT_TRUE(showPane<UserInfoViewController>(1));
        server.expireToken(*ConfigureManager::sharedInstance().loginUserToken());
        webtest::send(std::make_shared<InitRequestManager>());
        ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserloginViewController>() != nullptr; }));
    }

    void logInWithThePane(const QString& email, int alertsShown)
    {
        auto* pane = shownPane<UserloginViewController>();
        ASSERT_TRUE(pane);
        pressAndWait(fillLoginPane(pane, UserloginViewController::LoginMode, email, kPassword), alertsShown);
        drainMainQueue();
    }

    static qsizetype rows() { return DBKeeper::getAllHistory().size(); }

    std::shared_ptr<UserNotificationsFake> notices = std::make_shared<UserNotificationsFake>();
};

}  // namespace

TEST_F(LoginEndedTest, TheForgottenSessionShowsTheLoginPaneAndTellsTheUserOnce)
{
    annsSessionIsForgotten();
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
    ASSERT_EQ(notices->count(), 1);
    EXPECT_EQ(notices->delivered().first().title, QStringLiteral("登录已失效"));
    EXPECT_EQ(rows(), 2);

    // Asked again (a wake, another reply): nothing more is said.
    webtest::send(std::make_shared<InitRequestManager>());
    drainMainQueue();
    EXPECT_EQ(notices->count(), 1);
    EXPECT_TRUE(alerts->messages().isEmpty());
}

TEST_F(LoginEndedTest, TheNextLoginKeepsOrPurgesTheHistoryAsTheUserSays)
{
    struct Case {
        const char* name;
        QString email;
        QList<int> answers;  // to "登录另一个账号?"
        int alertsShown;
        bool loggedIn;
        qsizetype rowsAfter;
    };
    const Case cases[] = {
        {"the same account", kAnn, {}, 0, true, 2},
        {"another account, cancelled", kBob, {1}, 1, false, 2},
        {"another account, agreed", kBob, {0}, 1, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logOutQuietly();
        alerts->clear();
        notices->clear();
        DBKeeper::removeAllData();
        annsSessionIsForgotten();
        alerts->scriptAnswers(c.answers);
        logInWithThePane(c.email, c.alertsShown);
        if (c.alertsShown) {
            EXPECT_EQ(alerts->messages().first(), QStringLiteral("登录另一个账号?"));
        }
        EXPECT_EQ(ConfigureManager::sharedInstance().isLogined(), c.loggedIn);
        EXPECT_EQ(rows(), c.rowsAfter);
        // Settled by the login; kept still while nobody logged in.
        EXPECT_EQ(ConfigureManager::sharedInstance().historyKeptForUserId().has_value(), !c.loggedIn);
    }
}
