#include "encryptionfixture.h"
#include "scriptedkeyserver.h"

#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"

using namespace enctest;

namespace {

const QString kPin = QStringLiteral("2468");
// New PINs need six characters; the current one may be an older, shorter PIN.
const QString kNewPin = QStringLiteral("135790");
const QString kErrorMessage = QStringLiteral("发生错误, 请稍后重试|");
const QString kNetworkMessage = QStringLiteral("网络问题, 请稍后重试|");
const QString kServerMessage = QStringLiteral("服务器问题, 请稍后重试|");

class EncryptionFlowTest : public EncryptionViewTest {
protected:
    void SetUp() override
    {
        EncryptionViewTest::SetUp();
        view->setRequests(server.requests());
    }

    // Set-up answered with 404, then the new PIN twice: the new key goes to the server.
    void reachNewKeyUpload()
    {
        server.script(QStringLiteral("get"), codeReply(404));
        view->beginSetup();
        PINViewController* sheet = pinSheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->step(), 1);
        EXPECT_EQ(sheet->finalStep(), 2);
        typePins({kNewPin, kNewPin});
    }
    // A PIN change from kPin to kNewPin, with the key installed under kPin.
    void reachModifyUpload()
    {
        installKey(kPin);
        const qsizetype sentBefore = server.kinds().count(QStringLiteral("modify"));
        view->pinButton()->click();
        typePins({kPin, kNewPin, kNewPin});
        // The PINs are derived off the main thread: the change is sent, or the flow ended.
        ASSERT_TRUE(testenv::waitUntil(
            [&] { return server.kinds().count(QStringLiteral("modify")) > sentBefore || !view->isSetingUp(); },
            kFlowTimeout));
    }
    // A reset through the warning, the account password and the new PIN twice.
    void reachPublicKeyRequest()
    {
        view->revertButton()->click();
        EncryptAccountPwdViewController* pwd = pwdSheet();
        ASSERT_TRUE(pwd);
        enter(pwd->pwdTextField(), QStringLiteral("login secret"));
        PINViewController* sheet = pinSheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->step(), 1);
        typePins({kNewPin, kNewPin});
    }
    bool waitForEnd()
    {
        return testenv::waitUntil([this] { return flowEnded(); }, kFlowTimeout);
    }

    ScriptedKeyServer server;
};

}  // namespace

// --- Set-up ---------------------------------------------------------------------------------

TEST_F(EncryptionFlowTest, SetUpEndsOnEveryReplyThatIsNeitherAKeyNorNone)
{
    struct Case {
        const char* name;
        Reply reply;
        QStringList alerts;
    };
    const keytest::TestPair pair = keytest::makePair(kPin);
    const QList<Case> cases = {
        {"transport error", errorReply(), {kErrorMessage}},
        {"not sent", statusReply(-999), {kErrorMessage}},
        {"another 2xx", statusReply(201), {kErrorMessage}},
        {"other code", codeReply(500), {kErrorMessage}},
        {"not an object", notObjectReply(), {}},
        {"no code", noCodeReply(), {}},
        {"code as text", textCodeReply(), {}},
        {"code 0, empty cipher", codeReply(0, {{QStringLiteral("cipher"), QVariantMap()}}), {}},
        {"code 0, cipher not an object", codeReply(0, {{QStringLiteral("cipher"), QStringLiteral("x")}}), {}},
        {"code 0, no cipher", codeReply(0), {}},
    };
    for (const Case& c : cases) {
        alerts->clear();
        server.script(QStringLiteral("get"), c.reply);
        view->pinButton()->click();
        EXPECT_TRUE(view->isSetingUp()) << c.name;
        EXPECT_TRUE(loadingShown()) << c.name;
        ASSERT_TRUE(waitForEnd()) << c.name;
        // A message, when there is one, comes after the loading sheet went.
        if (!c.alerts.isEmpty()) {
            ASSERT_TRUE(waitForAlerts(1));
        }
        EXPECT_EQ(alerts->texts(), c.alerts) << c.name;
        EXPECT_FALSE(keytest::zm().currentKeyHash()) << c.name;
    }
    // A failed set-up leaves the button ready for the next one.
    EXPECT_EQ(server.kinds().count(QStringLiteral("get")), cases.size());
}

TEST_F(EncryptionFlowTest, ActivationAsksTheServerEvenWithAKeyAndUnlocksItsRecordWithThePin)
{
    // A key of the older wrap: this device has not seen the account at the current one. The
    // server holds the same key under another PIN.
    const QByteArray key(32, '\x5a');
    install(keytest::makePair(QStringLiteral("9999"), key, 1700000000), QStringLiteral("9999"));
    const keytest::TestPair pair = keytest::makePair(kPin, key, 1700000000);
    server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), pair.keyDict()}}));
    view->beginSetup();
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(loadingShown());
    EXPECT_EQ(sheet->step(), 0);
    EXPECT_EQ(sheet->finalStep(), 0);
    EXPECT_EQ(sheet->titleLabel()->text(), QStringLiteral("输入当前PIN:"));

    // A wrong PIN: the message, then the same question again, the flag still set.
    enter(sheet->pinField(), QStringLiteral("0000"));
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->texts(),
              QStringList{QStringLiteral("PIN错误|如果您忘记了PIN, 只能选择“销毁并重置加密档案”")});
    ASSERT_TRUE(testenv::waitUntil([&] { return view->pinSheet() && view->pinSheet() != sheet; }, kFlowTimeout));
    EXPECT_TRUE(view->isSetingUp());
    EXPECT_NE(keytest::zm().currentCipherHash(), pair.cipherHash());

    typePins({kPin});
    // The record was wrapped the older way under a PIN shorter than today's rule: a new PIN is
    // asked for, and the PIN change stores the same key the new way under it.
    ASSERT_TRUE(waitForAlerts(2));
    EXPECT_EQ(alerts->messages().value(1), QStringLiteral("请设置新的PIN"));
    EXPECT_EQ(keytest::zm().currentKeyHash(), pair.keyHash());
    typePins({kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(keytest::zm().currentKeyHash(), pair.keyHash());
    EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: ") + pair.keyHash());
    EXPECT_EQ(server.kinds(), (QStringList{QStringLiteral("get"), QStringLiteral("modify")}));
}

TEST_F(EncryptionFlowTest, AnOlderRecordForAnAccountSeenAtTheCurrentWrapIsRefusedInWords)
{
    installKey(kNewPin);
    const keytest::TestPair served = keytest::makePair(kNewPin, QByteArrayLiteral("the service's own"));
    server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), served.keyDict()}}));
    view->beginSetup();
    typePins({kNewPin});
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("服务器的密钥记录不可信")});
    EXPECT_NE(keytest::zm().currentKeyHash(), served.keyHash());
    EXPECT_EQ(server.kinds(), QStringList{QStringLiteral("get")});
}

// The service reported one key, then offers a record of another: the user is told why it is
// not used, and no other PIN is asked for.
TEST_F(EncryptionFlowTest, ARecordOfAnotherKeyThanTheReportedOneIsRefusedInWords)
{
    const keytest::TestPair reported = keytest::makePair(kPin);
    const keytest::TestPair served = keytest::makePair(kPin, QByteArrayLiteral("an earlier key"));
    ASSERT_TRUE(keytest::zm().checkServerCipher(
        QVariantMap{{QStringLiteral("key_hash"), reported.keyHash()}, {QStringLiteral("cipher_hash"), reported.cipherHash()}}));
    server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), served.keyDict()}}));
    view->beginSetup();
    typePins({kPin});
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(alerts->texts(), QStringList{QStringLiteral("服务器的密钥记录不可信|服务器的密钥记录不是本机所知的此账号密钥, "
                                                          "可能已过时。为保护您的数据, 本机不使用它, 请稍后重试。")});
    EXPECT_FALSE(keytest::zm().currentKeyHash());
    EXPECT_EQ(server.kinds(), QStringList{QStringLiteral("get")});
}

TEST_F(EncryptionFlowTest, CancellingTheUnlockOrTheNewKeyPinClearsTheFlagQuietly)
{
    const keytest::TestPair pair = keytest::makePair(kPin);
    const QList<Reply> replies = {codeReply(0, {{QStringLiteral("cipher"), pair.keyDict()}}), codeReply(404)};
    for (const Reply& reply : replies) {
        server.script(QStringLiteral("get"), reply);
        view->beginSetup();
        PINViewController* sheet = pinSheet();
        ASSERT_TRUE(sheet);
        pressKey(sheet->pinField(), Qt::Key_Escape);
        EXPECT_TRUE(flowEnded());
    }
    EXPECT_EQ(alerts->count(), 0);
    EXPECT_EQ(server.kinds(), (QStringList{QStringLiteral("get"), QStringLiteral("get")}));
}

// --- New key --------------------------------------------------------------------------------

TEST_F(EncryptionFlowTest, ANewKeyIsInstalledOnlyAfterTheServerSaidCodeZero)
{
    struct Case {
        const char* name;
        Reply reply;
        QStringList alerts;
        bool installed;
    };
    const QList<Case> cases = {
        {"transport error", errorReply(), {kErrorMessage}, false},
        {"not sent", statusReply(-999), {kNetworkMessage}, false},
        {"another 2xx", statusReply(204), {kNetworkMessage}, false},
        {"refused", codeReply(3), {kServerMessage}, false},
        {"no code", noCodeReply(), {kErrorMessage}, false},
        {"code as text", textCodeReply(), {kErrorMessage}, false},
        {"not an object", notObjectReply(), {kErrorMessage}, false},
        {"stored", codeReply(0), {}, true},
    };
    for (const Case& c : cases) {
        alerts->clear();
        server.script(QStringLiteral("push"), c.reply);
        reachNewKeyUpload();
        ASSERT_TRUE(waitForEnd()) << c.name;
        if (!c.alerts.isEmpty()) {
            ASSERT_TRUE(waitForAlerts(1));
        }
        EXPECT_EQ(alerts->texts(), c.alerts) << c.name;
        const ScriptedKeyServer::Sent push = server.sent().last();
        ASSERT_EQ(push.kind, QStringLiteral("push"));
        if (c.installed) {
            EXPECT_EQ(keytest::zm().currentKeyHash(), push.keyDict.value(QStringLiteral("key_hash")).toString());
            EXPECT_EQ(view->pinButton()->text(), QStringLiteral("修改PIN"));
        } else {
            EXPECT_FALSE(keytest::zm().currentKeyHash()) << c.name;
            EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: (空)"));
        }
    }
}

TEST_F(EncryptionFlowTest, ASecondSetUpWhileTheNewKeyIsOnItsWayDoesNothing)
{
    server.setHold(true);
    server.script(QStringLiteral("get"), codeReply(404));
    server.script(QStringLiteral("push"), codeReply(0));
    view->beginSetup();
    ASSERT_TRUE(server.releaseNext());
    typePins({kNewPin, kNewPin});
    // The key is made off the main thread; the upload follows.
    ASSERT_TRUE(testenv::waitUntil([&] { return server.kinds().size() == 2; }, kFlowTimeout));
    ASSERT_EQ(server.kinds(), (QStringList{QStringLiteral("get"), QStringLiteral("push")}));
    EXPECT_TRUE(loadingShown());
    EXPECT_TRUE(view->isSetingUp());

    // The menu's activation while the upload runs: no second key is made or asked for.
    view->beginSetup();
    view->beginRevert();
    EXPECT_EQ(server.kinds(), (QStringList{QStringLiteral("get"), QStringLiteral("push")}));
    EXPECT_EQ(alerts->count(), 0);

    server.setHold(false);
    ASSERT_TRUE(server.releaseNext());
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(keytest::zm().currentKeyHash(), server.sent().last().keyDict.value(QStringLiteral("key_hash")).toString());
}

// --- PIN change -----------------------------------------------------------------------------

TEST_F(EncryptionFlowTest, APinChangeSendsTheCurrentPinsVerifierAndActsOnEachReply)
{
    struct Case {
        const char* name;
        Reply reply;
        QStringList alerts;
        bool changed;
    };
    const QString success = QStringLiteral(
        "修改PIN成功|请牢记当前的PIN, 否则只能重置PIN, 重置PIN将清空所有线上数据, 包括收藏数据!");
    const QString wrongPin = QStringLiteral(
        "您输入的当前PIN不正确|如果您忘记了当前的PIN, 只能选择‘重置加密档案’, 请记住, "
        "重置加密档案会清空线上所有数据, 包括收藏的数据");
    const QList<Case> cases = {
        {"transport error", errorReply(), {kErrorMessage}, false},
        {"not sent", statusReply(-999), {kNetworkMessage}, false},
        {"stored", codeReply(0), {success}, true},
        {"server says wrong PIN", codeReply(401), {wrongPin}, false},
        {"other code", codeReply(9), {QStringLiteral("未知错误|")}, false},
        {"no code", noCodeReply(), {}, false},
    };
    for (const Case& c : cases) {
        keytest::zm().resetForTesting();
        alerts->clear();
        server.script(QStringLiteral("modify"), c.reply);
        server.setHold(true);
        reachModifyUpload();
        const QString keyHash = keytest::zm().currentKeyHash().value_or(QString());
        const QString cipherHash = keytest::zm().currentCipherHash().value_or(QString());
        server.setHold(false);
        ASSERT_TRUE(server.releaseNext());
        ASSERT_TRUE(waitForEnd()) << c.name;
        if (!c.alerts.isEmpty()) {
            ASSERT_TRUE(waitForAlerts(1));
        }
        EXPECT_EQ(alerts->texts(), c.alerts) << c.name;

        const ScriptedKeyServer::Sent sent = server.sent().last();
        ASSERT_EQ(sent.kind, QStringLiteral("modify"));
        // The verifier, never the PIN's hash: that hash is the key that wraps the key.
        EXPECT_EQ(sent.curPwdVerifierB64, keytest::zm().pinVerifier(kPin, ZeroManager::currentWrapVersion()));
        EXPECT_NE(sent.curPwdVerifierB64, ZeroManager::hashPwdWithBase64(kPin));
        EXPECT_EQ(sent.pwdVerifier, keytest::zm().pinVerifier(kNewPin, ZeroManager::currentWrapVersion()));
        EXPECT_EQ(sent.keyDict.value(QStringLiteral("key_hash")).toString(), keyHash);
        EXPECT_EQ(keytest::zm().currentKeyHash(), keyHash) << c.name;
        if (c.changed) {
            EXPECT_EQ(keytest::zm().currentCipherHash(), sent.keyDict.value(QStringLiteral("cipher_hash")).toString());
            EXPECT_TRUE(keytest::zm().checkCurrentPwd(kNewPin));
        } else {
            EXPECT_EQ(keytest::zm().currentCipherHash(), cipherHash) << c.name;
            EXPECT_TRUE(keytest::zm().checkCurrentPwd(kPin));
        }
    }
}

TEST_F(EncryptionFlowTest, CancellingThePinChangeClearsTheFlagAndSendsNothing)
{
    installKey(kPin);
    view->pinButton()->click();
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    enter(sheet->pinField(), kPin);
    enter(sheet->pinField(), kNewPin);
    sheet->cancelButton()->click();
    EXPECT_TRUE(flowEnded());
    EXPECT_TRUE(server.sent().isEmpty());
    EXPECT_EQ(alerts->count(), 0);
}

// --- Reset ----------------------------------------------------------------------------------

TEST_F(EncryptionFlowTest, AResetEndsOnAFailedPublicKeyStepWithItsMessage)
{
    struct Case {
        const char* name;
        Reply reply;
        QString alert;
    };
    const QList<Case> cases = {
        {"transport error", errorReply(), kErrorMessage},
        {"not sent", statusReply(-999), kNetworkMessage},
        {"other code", codeReply(2), kServerMessage},
        {"no code", noCodeReply(), kErrorMessage},
        {"not an object", notObjectReply(), kErrorMessage},
    };
    for (const Case& c : cases) {
        alerts->clear();
        server.script(QStringLiteral("publickey"), c.reply);
        reachPublicKeyRequest();
        ASSERT_TRUE(waitForEnd()) << c.name;
        ASSERT_TRUE(waitForAlerts(2));
        EXPECT_EQ(alerts->texts().last(), c.alert) << c.name;
        EXPECT_EQ(server.kinds().last(), QStringLiteral("publickey")) << c.name;
    }
    EXPECT_FALSE(server.kinds().contains(QStringLiteral("revert")));
}

TEST_F(EncryptionFlowTest, AResetReplacesTheKeyOnlyOnCodeZero)
{
    struct Case {
        const char* name;
        Reply reply;
        QString alert;
        bool replaced;
    };
    const QList<Case> cases = {
        {"transport error", errorReply(), kErrorMessage, false},
        {"not sent", statusReply(-999), kNetworkMessage, false},
        {"wrong account password", codeReply(-5),
         QStringLiteral("您输入的帐号登录密码有误|如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码"), false},
        {"other code", codeReply(4), kServerMessage, false},
        {"no code", noCodeReply(), kErrorMessage, false},
        {"replaced", codeReply(0),
         QStringLiteral("加密档案重置成功!|同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!"), true},
    };
    for (const Case& c : cases) {
        keytest::zm().resetForTesting();
        installKey(kPin);
        const QString oldHash = keytest::zm().currentKeyHash().value_or(QString());
        alerts->clear();
        server.setHold(true);
        server.script(QStringLiteral("publickey"), codeReply(0));
        server.script(QStringLiteral("revert"), c.reply);
        reachPublicKeyRequest();
        ASSERT_TRUE(server.releaseNext());
        // The new key is made off the main thread; the reset request follows, with the loading
        // sheet still up and the flag set.
        ASSERT_TRUE(testenv::waitUntil([&] { return server.kinds().last() == QStringLiteral("revert"); }, kFlowTimeout));
        ASSERT_EQ(server.kinds().last(), QStringLiteral("revert"));
        EXPECT_TRUE(loadingShown());
        EXPECT_TRUE(view->isSetingUp());
        const ScriptedKeyServer::Sent sent = server.sent().last();
        EXPECT_EQ(sent.pwd, QStringLiteral("login secret"));
        server.setHold(false);
        ASSERT_TRUE(server.releaseNext());
        ASSERT_TRUE(waitForEnd()) << c.name;
        ASSERT_TRUE(waitForAlerts(2));
        EXPECT_EQ(alerts->texts().last(), c.alert) << c.name;
        const QString sentHash = sent.keyDict.value(QStringLiteral("key_hash")).toString();
        if (c.replaced) {
            EXPECT_EQ(keytest::zm().currentKeyHash(), sentHash);
            EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: ") + sentHash);
            EXPECT_TRUE(keytest::zm().checkCurrentPwd(kNewPin));
        } else {
            EXPECT_EQ(keytest::zm().currentKeyHash(), oldHash) << c.name;
        }
    }
}

TEST_F(EncryptionFlowTest, AfterAResetClipsOfOtherKeysAreLocalOnly)
{
    installKey(kPin);
    const QString oldHash = keytest::zm().currentKeyHash().value_or(QString());
    // A clip synced under the old key, its body on this machine.
    auto clip = historytest::savedClip(1);
    clip->setKey_hash(oldHash);
    clip->setHistory_id(QVariant(qlonglong(5)));
    clip->setFile_id(QVariant(qlonglong(7)));
    ClipFileManager::sharedInstance().saveString(clip->content().value_or(QString()), historytest::hashOf(1));
    clip->save();
    server.script(QStringLiteral("publickey"), codeReply(0));
    server.script(QStringLiteral("revert"), codeReply(0));
    reachPublicKeyRequest();
    ASSERT_TRUE(waitForEnd());
    const auto rows = DBKeeper::getAllHistory();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first()->key_hash(), std::nullopt);
    EXPECT_EQ(rows.first()->history_id().toLongLong(), 0);
    EXPECT_NE(keytest::zm().currentKeyHash(), oldHash);
}

// --- Logout ---------------------------------------------------------------------------------

TEST_F(EncryptionFlowTest, ALogoutEndsTheRunningFlowAndItsLateAnswersLeadNowhere)
{
    const QString pin = QStringLiteral("246813");
    const QString newPin = QStringLiteral("135792");
    const keytest::TestPair pair = keytest::makePair(pin);
    struct Case {
        const char* name;
        // Brings the flow to the moment of the logout.
        std::function<void()> reach;
        // The answer still on its way at the logout, if any, with the reply it gets.
        std::optional<Reply> lateReply;
    };
    const QList<Case> cases = {
        {"unlock sheet",
         [&] {
             server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), pair.keyDict()}}));
             view->beginSetup();
             ASSERT_TRUE(pinSheet());
         },
         std::nullopt},
        {"unlock after a wrong PIN, message up",
         [&] {
             server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), pair.keyDict()}}));
             alerts->setHold(true);
             view->beginSetup();
             typePins({QStringLiteral("000000")});
             ASSERT_TRUE(waitForAlerts(1));
         },
         std::nullopt},
        {"new key sheet",
         [&] {
             server.script(QStringLiteral("get"), codeReply(404));
             view->beginSetup();
             ASSERT_TRUE(pinSheet());
         },
         std::nullopt},
        {"new key on its way",
         [&] {
             server.script(QStringLiteral("get"), codeReply(404));
             server.script(QStringLiteral("push"), codeReply(0));
             view->beginSetup();
             server.setHold(true);
             typePins({newPin, newPin});
             ASSERT_TRUE(testenv::waitUntil([&] { return server.kinds().contains(QStringLiteral("push")); }));
         },
         codeReply(0)},
        {"PIN change sheet",
         [&] {
             installKey(pin);
             view->pinButton()->click();
             ASSERT_TRUE(pinSheet());
         },
         std::nullopt},
        {"PIN change on its way",
         [&] {
             installKey(pin);
             server.script(QStringLiteral("modify"), codeReply(401));
             server.setHold(true);
             view->pinButton()->click();
             typePins({pin, newPin, newPin});
             ASSERT_TRUE(testenv::waitUntil([&] { return server.kinds().contains(QStringLiteral("modify")); }));
         },
         codeReply(401)},
        {"reset warning up",
         [&] {
             alerts->setHold(true);
             view->revertButton()->click();
             ASSERT_TRUE(waitForAlerts(1));
         },
         std::nullopt},
        {"reset password sheet",
         [&] {
             view->revertButton()->click();
             ASSERT_TRUE(pwdSheet());
         },
         std::nullopt},
        {"reset on its way",
         [&] {
             server.script(QStringLiteral("publickey"), codeReply(0));
             server.script(QStringLiteral("revert"), codeReply(0));
             view->revertButton()->click();
             ASSERT_TRUE(pwdSheet());
             enter(pwdSheet()->pwdTextField(), QStringLiteral("login secret"));
             server.setHold(true);
             typePins({newPin, newPin});
             ASSERT_TRUE(testenv::waitUntil([&] { return server.kinds().contains(QStringLiteral("publickey")); }));
         },
         codeReply(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keytest::loginAs(QStringLiteral("42"));
        keytest::drainMainQueue();
        alerts->clear();
        c.reach();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(view->isSetingUp());
        const int alertsBefore = alerts->count();

        // What the user pane's logout does.
        keytest::zm().cleanKeyInfo();
        keytest::logout();
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: (空)"));

        // A message still up when the logout came, then the late answer: nothing follows.
        while (alerts->answerNext(0)) {
        }
        alerts->setHold(false);
        server.setHold(false);
        if (c.lateReply) {
            ASSERT_TRUE(server.releaseNext());
            // A request the late answer would have led to goes out at once; none may.
            keytest::drainMainQueue();
            while (server.releaseNext()) {
            }
        }
        keytest::drainMainQueue();
        EXPECT_TRUE(flowEnded());
        EXPECT_EQ(alerts->count(), alertsBefore) << alerts->texts().join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(keytest::zm().currentKeyHash());
        EXPECT_FALSE(view->pinSheet());
    }
    // The reset whose public key answered late never sent its reset.
    EXPECT_FALSE(server.kinds().contains(QStringLiteral("revert")));
}
