#include "windows/encryptionfixture.h"

#include "platform/userdefaults.h"
#include "store/defaultskeys.h"
#include "support/webservice/webservicedouble.h"

#include "windows/encryption/encryptwindowcontroller.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>

using namespace enctest;

namespace {

bool xdotool(const QStringList& arguments, QByteArray* output = nullptr)
{
    const ClientRun run = runClient(QStringLiteral("xdotool"), arguments);
    if (output)
        *output = run.output.trimmed();
    return run.finished && run.exitCode == 0;
}

QByteArray focusedWindow()
{
    QByteArray id;
    xdotool({QStringLiteral("getwindowfocus")}, &id);
    return id;
}

// The PIN sheet up and holding the keyboard focus of the X server.
bool focusedSheet(PINViewController* sheet)
{
    sheet->activateWindow();
    sheet->pinField()->setFocus();
    return testenv::waitUntil([&] {
        return sheet->pinField()->hasFocus() && focusedWindow() == QByteArray::number(sheet->winId());
    });
}

class EncryptWindowX11 : public keytest::KeyTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        KeyTest::SetUp();
        Alerts::setCurrent(alerts);
        EncryptWindowController::sharedInstance().resetForTesting();
        // Logged in to an account of the web service double, which holds no key yet.
        ASSERT_TRUE(server.start());
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
        const QString email = QStringLiteral("ada@example.com");
        userId = server.addAccount(email, QStringLiteral("login secret"));
        ConfigureManager& account = ConfigureManager::sharedInstance();
        account.setLoginUserId(QString::number(userId));
        account.setLoginUserEmail(email);
        account.setLoginUserToken(server.issueToken(email));
        keytest::drainMainQueue();
        keytest::zm().resetForTesting();
    }
    void TearDown() override
    {
        server.stop();
        EncryptWindowController::sharedInstance().resetForTesting();
        Alerts::setCurrent(nullptr);
        KeyTest::TearDown();
    }
    std::optional<QString> serverKeyHash()
    {
        auto lock = server.lock();
        const auto& keys = server.keyRoutes().state().keys;
        const auto it = keys.find(userId);
        if (it == keys.end())
            return std::nullopt;
        return it->second.keyDict.value(QStringLiteral("key_hash")).toString();
    }

    std::shared_ptr<AlertsFake> alerts = std::make_shared<AlertsFake>();
    webdouble::WebServiceDouble server;
    qint64 userId = 0;
};

}  // namespace

TEST_F(EncryptWindowX11, TypingANewPinTwiceInstallsTheKey)
{
    EncryptWindowController& controller = EncryptWindowController::sharedInstance();
    controller.showWindow();
    EncMainViewController* view = controller.contentViewController();
    ASSERT_TRUE(view);
    ASSERT_TRUE(testenv::waitUntil([&] { return controller.window()->isVisible(); }));
    EXPECT_EQ(view->pinButton()->text(), QStringLiteral("激活端对端加密"));

    controller.activeEncrypt();
    ASSERT_TRUE(testenv::waitUntil([&] { return view->pinSheet() != nullptr; }, kFlowTimeout));
    PINViewController* sheet = view->pinSheet();
    ASSERT_TRUE(focusedSheet(sheet));

    // The user types the new PIN, Return, the same again, Return.
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("246813")}));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return sheet->step() == 2; }));
    ASSERT_TRUE(focusedSheet(sheet));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("246813")}));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));

    ASSERT_TRUE(testenv::waitUntil([&] { return keytest::zm().state() == 1; }, kFlowTimeout));
    const QString hash = keytest::zm().currentKeyHash().value_or(QString());
    EXPECT_EQ(serverKeyHash(), hash);
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(QStringLiteral("246813")));
    ASSERT_TRUE(testenv::waitUntil([&] { return view->fingerprint()->text() == QStringLiteral("指纹: ") + hash; }));
    EXPECT_EQ(view->pinButton()->text(), QStringLiteral("修改PIN"));
    EXPECT_FALSE(view->isSetingUp());
    EXPECT_EQ(alerts->count(), 0);
}

TEST_F(EncryptWindowX11, TabFollowsTheButtonsAsTheyRead)
{
    EncryptWindowController& controller = EncryptWindowController::sharedInstance();
    controller.showWindow();
    EncMainViewController* view = controller.contentViewController();
    ASSERT_TRUE(view);
    ASSERT_TRUE(testenv::waitUntil([&] { return controller.window()->isActiveWindow(); }));
    // Left to right on screen: help, reset, PIN.
    ASSERT_LT(view->helpButton()->mapTo(view, QPoint()).x(), view->revertButton()->mapTo(view, QPoint()).x());
    ASSERT_LT(view->revertButton()->mapTo(view, QPoint()).x(), view->pinButton()->mapTo(view, QPoint()).x());

    view->helpButton()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testenv::waitUntil([&] { return view->helpButton()->hasFocus(); }));
    for (QPushButton* next : {view->revertButton(), view->pinButton(), view->helpButton()}) {
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Tab")}));
        ASSERT_TRUE(testenv::waitUntil([&] { return next->hasFocus(); })) << next->text().toStdString();
    }
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+Tab")}));
    ASSERT_TRUE(testenv::waitUntil([&] { return view->pinButton()->hasFocus(); }));
    EXPECT_FALSE(view->isSetingUp());
}
