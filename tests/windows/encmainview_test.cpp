#include "app/menucontroller.h"
#include "windows/preferences/settingwindowcontroller.h"
#include "windows/preferences/userinfoviewcontroller.h"
#include "windows/encryption/encryptwindowcontroller.h"
#include "encryptionfixture.h"
#include "scriptedkeyserver.h"

#include "platform/userdefaults.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"

using namespace enctest;

namespace {

const QString kPin = QStringLiteral("2468");

}  // namespace

TEST_F(EncryptionViewTest, ShowsTheKeyStateAndFollowsItsChanges)
{
    EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: (空)"));
    EXPECT_EQ(view->pinButton()->text(), QStringLiteral("激活端对端加密"));
    EXPECT_TRUE(view->warningLabel()->isVisibleTo(view));

    // "ZERO_CHANGED" from the key manager refreshes the view.
    installKey(kPin);
    const QString hash = keytest::zm().currentKeyHash().value_or(QString());
    ASSERT_EQ(hash.size(), 64);
    ASSERT_TRUE(testenv::waitUntil([&] { return view->fingerprint()->text() == QStringLiteral("指纹: ") + hash; }));
    EXPECT_EQ(view->pinButton()->text(), QStringLiteral("修改PIN"));
    EXPECT_FALSE(view->warningLabel()->isVisibleTo(view));

    // So does a logout.
    keytest::logout();
    ASSERT_TRUE(testenv::waitUntil([&] { return view->fingerprint()->text() == QStringLiteral("指纹: (空)"); }));
    EXPECT_EQ(view->pinButton()->text(), QStringLiteral("激活端对端加密"));
    EXPECT_TRUE(view->warningLabel()->isVisibleTo(view));
}

TEST_F(EncryptionViewTest, HelpOpensOnlyAWebAddressFromTheServiceElseTheBuiltInPage)
{
    const QUrl builtin = EncMainViewController::builtinHelpURL();
    EXPECT_EQ(builtin.path(), QStringLiteral("/help/e2ee.html"));
    EXPECT_EQ(builtin.scheme(), QStringLiteral("http"));
    struct Case {
        std::optional<QString> stored;
        QUrl expected;
    };
    const QList<Case> cases = {
        {std::nullopt, builtin},
        {QStringLiteral("https://help.example.com/e2ee"), QUrl(QStringLiteral("https://help.example.com/e2ee"))},
        {QStringLiteral("HTTP://help.example.com/x"), QUrl(QStringLiteral("http://help.example.com/x"))},
        {QStringLiteral("file:///etc/passwd"), builtin},
        {QStringLiteral("javascript:alert(1)"), builtin},
        {QStringLiteral("smb://host/share"), builtin},
        {QStringLiteral("not a url at all"), builtin},
        {QStringLiteral("http://"), builtin},
        {QString(), builtin},
    };
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    for (const Case& c : cases) {
        urls->urls.clear();
        if (c.stored)
            defaults.setValue(DefaultsKey::E2eePage, *c.stored);
        else
            defaults.remove(DefaultsKey::E2eePage);
        view->helpButton()->click();
        ASSERT_TRUE(testenv::waitUntil([&] { return !urls->urls.isEmpty(); })) << c.stored.value_or("none").toStdString();
        EXPECT_EQ(urls->urls, QList<QUrl>{c.expected}) << c.stored.value_or("none").toStdString();
    }
}

TEST_F(EncryptionViewTest, AWrongCurrentPinEndsThePinChangeHereWithoutAsking)
{
    installKey(kPin);
    const QString before = keytest::zm().currentCipherHash().value_or(QString());
    view->pinButton()->click();
    ASSERT_TRUE(view->isSetingUp());
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->step(), 0);
    EXPECT_EQ(sheet->finalStep(), 2);
    typePins({QStringLiteral("1111"), QStringLiteral("357911"), QStringLiteral("357911")});
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->texts(),
              QStringList{QStringLiteral("您输入的当前PIN不正确|如果您忘记了当前的PIN, 只能选择‘重置加密档案’, "
                                         "请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据")});
    EXPECT_TRUE(flowEnded());
    EXPECT_FALSE(view->modifyRequest());  // nothing was sent
    EXPECT_EQ(keytest::zm().currentCipherHash(), before);
}

TEST_F(EncryptionViewTest, APinButtonWithoutAKeyStartsTheSetUp)
{
    ScriptedKeyServer server;
    server.script(QStringLiteral("get"), codeReply(404));
    view->setRequests(server.requests());
    view->pinButton()->click();
    EXPECT_TRUE(view->isSetingUp());
    EXPECT_TRUE(loadingShown());
    EXPECT_EQ(server.kinds(), QStringList{QStringLiteral("get")});
    // The answer leads to the new key's PIN, not the PIN change's.
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->step(), 1);
    EXPECT_FALSE(loadingShown());
    sheet->cancelButton()->click();
    EXPECT_TRUE(flowEnded());
}

TEST_F(EncryptionViewTest, CancellingAnySheetOfTheResetClearsTheFlagAndShowsNothingMore)
{
    enum class At { Password, PasswordEscape, Pin, PinClose };
    for (At at : {At::Password, At::PasswordEscape, At::Pin, At::PinClose}) {
        alerts->clear();
        view->revertButton()->click();
        ASSERT_TRUE(waitForAlerts(1));
        EXPECT_EQ(alerts->texts().first(), QStringLiteral("警告|销毁加密档案会清空线上所有加密数据, 包括收藏!"));
        EncryptAccountPwdViewController* pwd = pwdSheet();
        ASSERT_TRUE(pwd);
        EXPECT_TRUE(view->isSetingUp());
        if (at == At::Password) {
            pwd->cancelButton()->click();
        } else if (at == At::PasswordEscape) {
            pressKey(pwd->pwdTextField(), Qt::Key_Escape);
        } else {
            enter(pwd->pwdTextField(), QStringLiteral("account password"));
            PINViewController* pin = pinSheet();
            ASSERT_TRUE(pin);
            EXPECT_FALSE(view->accountPwdSheet());  // one sheet at a time
            EXPECT_EQ(pin->step(), 1);
            EXPECT_EQ(pin->finalStep(), 2);
            enter(pin->pinField(), QStringLiteral("246810"));
            if (at == At::Pin)
                pin->cancelButton()->click();
            else
                pin->close();
        }
        EXPECT_TRUE(flowEnded()) << int(at);
        EXPECT_EQ(alerts->count(), 1) << int(at);
        EXPECT_FALSE(view->syncKeyRequet());
    }
}

TEST_F(EncryptionViewTest, AResetWhileAFlowRunsDoesNothingNotEvenTheWarning)
{
    alerts->setHold(true);
    view->revertButton()->click();
    ASSERT_EQ(alerts->count(), 1);
    // The warning is up: a second reset and a set-up both refuse.
    view->beginRevert();
    view->beginSetup();
    EXPECT_EQ(alerts->count(), 1);
    EXPECT_FALSE(view->getRequest());
    ASSERT_TRUE(alerts->answerNext());
    EncryptAccountPwdViewController* pwd = pwdSheet();
    ASSERT_TRUE(pwd);
    view->beginRevert();
    EXPECT_EQ(alerts->count(), 1);
    pwd->cancelButton()->click();
    EXPECT_TRUE(flowEnded());
    // Once it ended, a reset starts again.
    view->beginRevert();
    EXPECT_EQ(alerts->count(), 2);
}

TEST(EncryptWindowController, OneTitledWindowWhoseContentIsTheEncryptionView)
{
    EncryptWindowController& controller = EncryptWindowController::sharedInstance();
    controller.resetForTesting();
    EXPECT_EQ(controller.window(), nullptr);
    controller.showWindow();
    QWidget* window = controller.window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("端对端加密"));
    ASSERT_TRUE(controller.contentViewController());
    EXPECT_EQ(controller.contentViewController()->window(), window);
    // Closing only hides it; the next show brings back the same window.
    window->close();
    controller.showWindow();
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isVisible());
    controller.resetForTesting();
    EXPECT_EQ(controller.window(), nullptr);
}

TEST_F(EncryptionViewTest, TheMenusEncryptionItemOpensTheWindowAndStartsTheSetUp)
{
    // Through the preferences window's user pane; with no server to answer, set-up ends
    // with its message.
    SettingWindowController::resetSharedInstanceForTesting();
    EncryptWindowController& controller = EncryptWindowController::sharedInstance();
    controller.resetForTesting();
    MenuController::sharedInstance().encrypt();
    EXPECT_EQ(SettingWindowController::sharedInstance().selectedIndex(), 1);
    EXPECT_TRUE(qobject_cast<UserInfoViewController*>(SettingWindowController::sharedInstance().currentViewController()));
    ASSERT_TRUE(controller.window());
    EXPECT_TRUE(controller.window()->isVisible());
    EncMainViewController* shown = controller.contentViewController();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->getRequest());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->shown().first().parent, shown);
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("发生错误, 请稍后重试")});
    EXPECT_FALSE(shown->isSetingUp());
    controller.resetForTesting();
    SettingWindowController::resetSharedInstanceForTesting();
}
