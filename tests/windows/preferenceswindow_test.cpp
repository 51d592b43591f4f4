#include "windows/preferences/aboutviewcontroller.h"
#include "windows/preferences/generalviewcontroller.h"
#include "windows/preferences/privacyviewcontroller.h"
#include "windows/preferences/userinfoviewcontroller.h"
#include "windows/preferences/userloginviewcontroller.h"

#include "app/menucontroller.h"
#include "platform/bundle.h"
#include "platform/fake/keychainfake.h"
#include "store/dbkeeper.h"
#include "service/zeromanager.h"
#include "preferencesfixture.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

using PreferencesWindowTest = PreferencesTest;

const char* paneName(QWidget* pane)
{
    return pane ? pane->metaObject()->className() : "none";
}

}  // namespace

TEST_F(PreferencesWindowTest, SidebarOffersTheFourPanelsWithTheirImages)
{
    QListWidget* sideBar = window().settingSideBar();
    ASSERT_EQ(sideBar->count(), 4);
    const QStringList titles = {QStringLiteral("常规"), QStringLiteral("用户"), QStringLiteral("隐私"), QStringLiteral("关于")};
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(sideBar->item(row)->text(), titles.at(row));
        EXPECT_FALSE(sideBar->item(row)->icon().isNull()) << row;
    }
    for (const char* image : {"work-white-32", "work-gray-32", "icon1-white", "icon1-gray", "tab_privacy_white",
                              "tab_privacy_gray", "about-white", "about-gray"})
        EXPECT_TRUE(QFile::exists(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(image)))) << image;
    EXPECT_EQ(window().selectedIndex(), 0);
    EXPECT_STREQ(paneName(window().currentViewController()), "GeneralViewController");
    EXPECT_EQ(window().currentViewController()->parentWidget(), window().panelView());
    const QPixmap pointer = SettingWindowController::buildSelectionImage();
    EXPECT_EQ(pointer.size(), QSize(12, 22));
}

TEST_F(PreferencesWindowTest, ShowPanelShowsEachPanelAndIgnoresOtherIndexes)
{
    struct Case {
        int index;
        int selected;
        const char* pane;
    };
    const Case cases[] = {
        {2, 2, "PrivacyViewController"},   {3, 3, "AboutViewController"},
        {4, 3, "AboutViewController"},     {-1, 3, "AboutViewController"},
        {1, 1, "UserloginViewController"}, {0, 0, "GeneralViewController"},
        {99, 0, "GeneralViewController"},
    };
    for (const Case& c : cases) {
        QWidget* before = window().currentViewController();
        window().showPanel(c.index);
        EXPECT_EQ(window().selectedIndex(), c.selected) << c.index;
        EXPECT_STREQ(paneName(window().currentViewController()), c.pane) << c.index;
        if (c.index < 0 || c.index > 3) {
            EXPECT_EQ(window().currentViewController(), before) << "index " << c.index << " made a new panel";
        }
    }
}

TEST_F(PreferencesWindowTest, ClickingTheSidebarMakesANewPanelEachTime)
{
    window().settingSideBar()->setCurrentRow(2);
    QPointer<QWidget> first = window().currentViewController();
    EXPECT_STREQ(paneName(first), "PrivacyViewController");
    window().settingSideBar()->setCurrentRow(0);
    window().settingSideBar()->setCurrentRow(2);
    EXPECT_STREQ(paneName(window().currentViewController()), "PrivacyViewController");
    EXPECT_NE(window().currentViewController(), first.data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "the old panel is dropped";
}

TEST_F(PreferencesWindowTest, LoggingInFromTheUserPanelShowsTheUserPaneWithoutAClick)
{
    server.addAccount(QStringLiteral("ann@example.com"), QStringLiteral("pw-1234"));
    auto* login = showPane<UserloginViewController>(1);
    ASSERT_NE(login, nullptr);
    login->nameField()->setText(QStringLiteral("ann@example.com"));
    login->pwdField()->setText(QStringLiteral("pw-1234"));
    login->loginButton()->click();

    ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserInfoViewController>() != nullptr; }, 20s));
    EXPECT_EQ(window().selectedIndex(), 1);
    EXPECT_EQ(shownPane<UserInfoViewController>()->userName()->text(), QStringLiteral("当前用户：ann@example.com"));
    // The window's own rebuild after "USER_LOGINED" and the login's.
    EXPECT_TRUE(testenv::waitUntil([&] { return menuRebuilds >= 2 && mqttConnects == 1; }));
    EXPECT_TRUE(alerts->messages().isEmpty()) << alerts->messages().join(QLatin1Char('|')).toStdString();
}

TEST_F(PreferencesWindowTest, LogoutEmptiesTheKeyAndShowsTheLoginPaneAgain)
{
    logInAs(QStringLiteral("bo@example.com"));
    ZeroManager& zero = ZeroManager::sharedInstance();
    const auto keyDict = zero.generateKey(QStringLiteral("2468"));
    ASSERT_TRUE(keyDict);
    ASSERT_TRUE(zero.makeKeyAvailable(*keyDict));
    ASSERT_EQ(zero.state(), 1);
    auto& keychain = static_cast<KeychainFake&>(Keychain::current());
    const QString userId = *ConfigureManager::sharedInstance().loginUserId();
    ASSERT_TRUE(keychain.contains(ZeroManager::keychainService(), ZeroManager::storeKey(userId)));

    auto* user = showPane<UserInfoViewController>(1);
    ASSERT_NE(user, nullptr);
    const int rebuildsBefore = menuRebuilds;
    alerts->scriptAnswers({0});
    user->logoutButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return !ConfigureManager::sharedInstance().isLogined(); }));

    EXPECT_FALSE(keychain.contains(ZeroManager::keychainService(), ZeroManager::storeKey(userId)));
    EXPECT_EQ(zero.state(), 0);
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
    ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserloginViewController>() != nullptr; }));
    EXPECT_TRUE(testenv::waitUntil([&] { return menuRebuilds > rebuildsBefore; }));
}

TEST_F(PreferencesWindowTest, EncryptionPanelStartsTheSetUpOnlyForALoggedInUser)
{
    window().showPanel(1);
    window().activeEncryptPanel();
    EXPECT_EQ(encryptActivations, 0);

    logInAs(QStringLiteral("cy@example.com"));
    ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserInfoViewController>() != nullptr; }));
    window().activeEncryptPanel();
    EXPECT_EQ(encryptActivations, 1);
    shownPane<UserInfoViewController>()->encryptButton()->click();
    EXPECT_EQ(encryptShows, 1);
    window().showPanel(2);
    window().activeEncryptPanel();
    EXPECT_EQ(encryptActivations, 1);
}

TEST_F(PreferencesWindowTest, TheMenuOpensTheWindowOnThePanelItsItemsName)
{
    window();
    MenuController& menu = MenuController::sharedInstance();
    window().showPanel(2);
    // No update pending: the window keeps the panel last chosen.
    menu.setting();
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().selectedIndex(), 2);

    menu.login();
    EXPECT_EQ(window().selectedIndex(), 1);
    EXPECT_NE(shownPane<UserloginViewController>(), nullptr);

    window().showPanel(0);
    UserDefaults::standard().setValue(DefaultsKey::NewVersion, QStringLiteral("999.0.0"));
    server.accountRoutes().state().latestVersion = QStringLiteral("999.0.0");
    menu.setting();
    EXPECT_EQ(window().selectedIndex(), 3);
    ASSERT_NE(shownPane<AboutViewController>(), nullptr);
    // The About pane checks at once while an update is pending.
    EXPECT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }, 20s));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("新版本：999.0.0")});

    logInAs(QStringLiteral("di@example.com"));
    window().showPanel(0);
    menu.encrypt();
    EXPECT_EQ(window().selectedIndex(), 1);
    EXPECT_EQ(encryptActivations, 1);
}

TEST_F(PreferencesWindowTest, TheFirstOpeningFromTheMenuShowsThePaneFillingThePanelArea)
{
    // The menu's path exactly: a fresh window, no panel chosen by hand afterwards.
    SettingWindowController& fresh = SettingWindowController::sharedInstance();
    fresh.setServices(recorders());
    MenuController::sharedInstance().setting();
    ASSERT_TRUE(testenv::waitUntil([&] { return fresh.isVisible() && fresh.currentViewController() != nullptr; }));
    QCoreApplication::processEvents();

    const auto fills = [&] {
        QWidget* pane = fresh.currentViewController();
        return pane && pane->isVisible() && pane->geometry() == fresh.panelView()->rect();
    };
    ASSERT_TRUE(testenv::waitUntil(fills));
    QWidget* pane = fresh.currentViewController();
    EXPECT_STREQ(paneName(pane), "GeneralViewController");
    EXPECT_GE(pane->width(), pane->minimumSizeHint().width());
    EXPECT_GE(pane->height(), pane->minimumSizeHint().height());
    EXPECT_EQ(fresh.panelView()->width(), fresh.width() - fresh.settingSideBar()->width());

    // The pane follows the window when it is resized, both ways.
    for (const QSize& size : {QSize(900, 700), QSize(620, 450)}) {
        fresh.resize(size);
        ASSERT_TRUE(testenv::waitUntil([&] { return fresh.size() == size && fills(); }))
            << size.width() << "x" << size.height() << " pane " << fresh.currentViewController()->width() << "x"
            << fresh.currentViewController()->height();
    }

    // Every panel fills the area too, and the window cannot be squeezed below its panes.
    for (int index : {1, 2, 3, 0}) {
        fresh.showPanel(index);
        ASSERT_TRUE(testenv::waitUntil(fills)) << index;
    }
    fresh.resize(96, 88);
    QCoreApplication::processEvents();
    EXPECT_GE(fresh.width(), 560);
    EXPECT_GE(fresh.height(), 420);
    EXPECT_GE(fresh.panelView()->width(), fresh.currentViewController()->minimumSizeHint().width());
}

TEST_F(PreferencesWindowTest, LogoutAsksFirstAndOnlyItsConfirmationRemovesTheLocalHistory)
{
    logInAs(QStringLiteral("flo@example.com"));
    window();
    // The window shows its panel again after the login: let that happen first.
    drainMainQueue();
    savedText(QStringLiteral("never uploaded"), 1000);
    savedText(QStringLiteral("kept dear"), 1001, 5000);
    savedText(QStringLiteral("kept dear"), 1001, 5000, QStringLiteral("favourite"));
    const auto rows = [] {
        return DBKeeper::getAllHistoryAtCategory(QStringLiteral("history")).size()
               + DBKeeper::getAllHistoryAtCategory(QStringLiteral("favourite")).size();
    };
    ASSERT_EQ(rows(), 3);
    QPointer<UserInfoViewController> user = showPane<UserInfoViewController>(1);
    ASSERT_NE(user, nullptr);

    // Cancel (and Escape, which answers with it) keeps everything.
    alerts->scriptAnswers({1});
    user->logoutButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1 && alerts->pendingCount() == 0; }));
    const AlertsFake::Shown asked = alerts->shown().first();
    EXPECT_EQ(asked.alert.messageText, QStringLiteral("退出登录?"));
    EXPECT_TRUE(asked.alert.informativeText.contains(QStringLiteral("收藏"))) << asked.alert.informativeText.toStdString();
    EXPECT_EQ(asked.alert.buttons, (QStringList{QStringLiteral("退出登录"), QStringLiteral("取消")}));
    EXPECT_EQ(asked.alert.escapeIndex(), 1);
    EXPECT_EQ(asked.parent, &window());
    drainMainQueue();
    EXPECT_TRUE(ConfigureManager::sharedInstance().isLogined());
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(shownPane<UserInfoViewController>(), user);

    // Confirmed: the logout as before, the local history gone, the login pane back.
    alerts->scriptAnswers({0});
    user->logoutButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return shownPane<UserloginViewController>() != nullptr; }));
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(alerts->count(), 2);
}

TEST_F(PreferencesWindowTest, ALongAccountAddressIsElidedNotCutAndTheWindowCarriesTheAppIcon)
{
    EXPECT_FALSE(window().windowIcon().isNull());
    EXPECT_FALSE(window().windowIcon().pixmap(32, 32).isNull());

    const QString email = QStringLiteral("a.very.long.name.of.someone.who.likes.long.names.indeed@"
                                         "a-rather-long-subdomain.of-an-even-longer-example-domain.com");
    logInAs(email);
    window();
    drainMainQueue();
    auto* user = showPane<UserInfoViewController>(1);
    ASSERT_NE(user, nullptr);
    const QString full = QStringLiteral("当前用户：") + email;
    QLabel* label = user->userName();
    for (const QSize& size : {QSize(560, 420), QSize(900, 500)}) {
        window().resize(size);
        ASSERT_TRUE(testenv::waitUntil([&] { return user->width() == window().panelView()->width(); }));
        QCoreApplication::processEvents();
        SCOPED_TRACE(size.width());
        EXPECT_NE(label->text(), full);
        EXPECT_TRUE(label->text().contains(QChar(0x2026))) << label->text().toStdString();
        // Its start and its domain stay readable, the whole address is in the tooltip.
        EXPECT_TRUE(label->text().startsWith(QStringLiteral("当前用户：a.very"))) << label->text().toStdString();
        EXPECT_TRUE(label->text().endsWith(QStringLiteral(".com"))) << label->text().toStdString();
        EXPECT_EQ(label->toolTip(), full);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), user->width());
        EXPECT_LE(label->geometry().right(), user->rect().right());
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    }
}
