#include "encryptionfixture.h"

#include "platform/userdefaults.h"
#include "service/requestmanager.h"
#include "store/defaultskeys.h"
#include "support/webservice/webservicedouble.h"

#include <QJsonDocument>

using namespace enctest;

namespace {

const QString kEmail = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("login secret");
const QString kPin = QStringLiteral("246810");
const QString kNewPin = QStringLiteral("135790");

// The encryption view against the web service double, logged in to an account there.
class EncryptionServerTest : public EncryptionViewTest {
protected:
    void SetUp() override
    {
        EncryptionViewTest::SetUp();
        ASSERT_TRUE(server.start());
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
        const qint64 userId = server.addAccount(kEmail, kPassword);
        ConfigureManager& account = ConfigureManager::sharedInstance();
        account.setLoginUserId(QString::number(userId));
        account.setLoginUserEmail(kEmail);
        account.setLoginUserToken(server.issueToken(kEmail));
        keytest::drainMainQueue();
        keytest::zm().resetForTesting();
        m_userId = userId;
    }
    void TearDown() override
    {
        server.stop();
        EncryptionViewTest::TearDown();
    }

    // The key the double holds for the account, as the client sent it.
    std::optional<QJsonObject> storedKeyDict()
    {
        auto lock = server.lock();
        const auto& keys = server.keyRoutes().state().keys;
        const auto it = keys.find(m_userId);
        if (it == keys.end())
            return std::nullopt;
        return it->second.keyDict;
    }
    bool waitForEnd(std::chrono::milliseconds timeout = kFlowTimeout)
    {
        return testenv::waitUntil([this] { return flowEnded(); }, timeout);
    }
    // Set-up of an account without a key: the new PIN twice, the key stored there and here.
    void setUpNewKey(const QString& pin)
    {
        view->pinButton()->click();
        PINViewController* sheet = pinSheet();
        ASSERT_TRUE(sheet);
        ASSERT_EQ(sheet->step(), 1);
        typePins({pin, pin});
        ASSERT_TRUE(waitForEnd());
        ASSERT_TRUE(keytest::zm().currentKeyHash());
    }
    // No request the server saw holds the PIN, the key that the PIN's hash is, or the plain key.
    void expectServerSawNoSecret(const QStringList& pins)
    {
        for (const webdouble::RecordedRequest& r : server.requests()) {
            const QString seen = QString::fromStdString(r.query + " " + r.body);
            for (const QString& pin : pins) {
                EXPECT_FALSE(seen.contains(ZeroManager::hashPwdWithBase64(pin))) << r.path;
                EXPECT_FALSE(seen.contains(QStringLiteral("\"") + pin + QStringLiteral("\""))) << r.path;
            }
            EXPECT_FALSE(seen.contains(kPassword)) << r.path;
        }
    }

    // A record an older build stored: the key wrapped the older way under a short PIN, and its
    // verifier of the older kind. Its key hash.
    QString storeOlderRecord(const QString& pin)
    {
        const QByteArray p = pin.toUtf8();
        ce_data* data = ce_new_data();
        ce_cipher_data* cipher = ce_new_cipher_data(reinterpret_cast<const unsigned char*>(p.constData()),
                                                    size_t(p.size()), data);
        const QVariantMap dict = ZeroManager::dictFromCEData(*data, *cipher);
        ce_free_data(data);
        ce_free_cipher_data(cipher);
        auto lock = server.lock();
        server.keyRoutes().state().keys[m_userId] = {QJsonObject::fromVariantMap(dict),
                                                     ZeroManager::pinVerifierWithBase64(pin)};
        return dict.value(QStringLiteral("key_hash")).toString();
    }
    QString storedVersion()
    {
        const auto stored = storedKeyDict();
        return stored ? stored->value(QStringLiteral("version")).toString() : QString();
    }

    webdouble::WebServiceDouble server;
    qint64 m_userId = 0;
};

}  // namespace

TEST_F(EncryptionServerTest, TurningEncryptionOnStoresANewKeyThereAndHere)
{
    setUpNewKey(kPin);
    const auto stored = storedKeyDict();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->value(QStringLiteral("key_hash")).toString(), keytest::zm().currentKeyHash());
    EXPECT_EQ(stored->value(QStringLiteral("cipher_hash")).toString(), keytest::zm().currentCipherHash());
    EXPECT_EQ(keytest::zm().state(), 1);
    EXPECT_EQ(view->fingerprint()->text(), QStringLiteral("指纹: ") + *keytest::zm().currentKeyHash());
    EXPECT_EQ(alerts->count(), 0);
    expectServerSawNoSecret({kPin});
}

TEST_F(EncryptionServerTest, AnotherDeviceUnlocksTheStoredKeyAfterAWrongPin)
{
    setUpNewKey(kPin);
    const QString hash = *keytest::zm().currentKeyHash();
    // This machine as a second device of the account: no key of its own yet.
    keytest::zm().cleanKeyDatas();
    keytest::drainMainQueue();
    ASSERT_FALSE(keytest::zm().currentKeyHash());

    view->pinButton()->click();
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->step(), 0);
    typePins({QStringLiteral("0000")});
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("PIN错误")});
    ASSERT_TRUE(testenv::waitUntil([&] { return view->pinSheet() && view->pinSheet() != sheet; }, kFlowTimeout));
    typePins({kPin});
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(keytest::zm().currentKeyHash(), hash);
    EXPECT_EQ(server.requestsTo("/key/").size(), 3u);  // PUT, then one GET per set-up
}

TEST_F(EncryptionServerTest, APinChangeRewrapsTheKeyOnTheServer)
{
    setUpNewKey(kPin);
    const QString keyHash = *keytest::zm().currentKeyHash();
    view->pinButton()->click();
    typePins({kPin, kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("修改PIN成功")});
    const auto stored = storedKeyDict();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->value(QStringLiteral("key_hash")).toString(), keyHash);
    EXPECT_EQ(stored->value(QStringLiteral("cipher_hash")).toString(), keytest::zm().currentCipherHash());
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(kNewPin));
    expectServerSawNoSecret({kPin, kNewPin});
}

TEST_F(EncryptionServerTest, AServerThatRefusesTheCurrentPinLeavesTheKeyAsItWas)
{
    setUpNewKey(kPin);
    {
        // The PIN was changed on another device: this one's current PIN is no longer the server's.
        auto lock = server.lock();
        server.keyRoutes().state().keys[m_userId].pwdVerifier = ZeroManager::pinVerifierWithBase64(QStringLiteral("5555"));
    }
    const QString cipherHash = *keytest::zm().currentCipherHash();
    view->pinButton()->click();
    typePins({kPin, kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("您输入的当前PIN不正确")});
    EXPECT_EQ(keytest::zm().currentCipherHash(), cipherHash);
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(kPin));
}

TEST_F(EncryptionServerTest, AResetWithTheAccountPasswordReplacesTheKeyThereAndHere)
{
    setUpNewKey(kPin);
    const QString oldHash = *keytest::zm().currentKeyHash();
    view->revertButton()->click();
    EncryptAccountPwdViewController* pwd = pwdSheet();
    ASSERT_TRUE(pwd);
    EXPECT_EQ(pwd->infoLabel()->text(), QStringLiteral("请输入当前帐号(ada@example.com)的*登录*密码:"));
    enter(pwd->pwdTextField(), kPassword);
    typePins({kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(2));
    const auto stored = storedKeyDict();
    ASSERT_TRUE(stored);
    EXPECT_EQ(alerts->messages().last(), QStringLiteral("加密档案重置成功!"));
    EXPECT_NE(keytest::zm().currentKeyHash(), oldHash);
    EXPECT_EQ(stored->value(QStringLiteral("key_hash")).toString(), keytest::zm().currentKeyHash());
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(kNewPin));
    EXPECT_EQ(server.requestsTo("/revert_key/").size(), 1u);
    expectServerSawNoSecret({kPin, kNewPin});
}

TEST_F(EncryptionServerTest, AResetWithAWrongAccountPasswordIsToldAndChangesNothing)
{
    setUpNewKey(kPin);
    const QString oldHash = *keytest::zm().currentKeyHash();
    view->revertButton()->click();
    EncryptAccountPwdViewController* pwd = pwdSheet();
    ASSERT_TRUE(pwd);
    enter(pwd->pwdTextField(), QStringLiteral("wrong password"));
    typePins({kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(2));
    EXPECT_EQ(alerts->texts().last(),
              QStringLiteral("您输入的帐号登录密码有误|如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码"));
    EXPECT_EQ(keytest::zm().currentKeyHash(), oldHash);
    EXPECT_EQ(storedKeyDict()->value(QStringLiteral("key_hash")).toString(), oldHash);
}

TEST_F(EncryptionServerTest, AServerThatCannotBeReachedEndsEachFlowWithItsMessage)
{
    // Set-up: one message for every failure.
    server.setFault("/key/", webdouble::Fault::status(502));
    view->pinButton()->click();
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("发生错误, 请稍后重试")});
    EXPECT_FALSE(keytest::zm().currentKeyHash());

    // PIN change against a server that went away: the general message, the key as it was.
    server.clearFaults();
    alerts->clear();
    setUpNewKey(kPin);
    const QString cipherHash = *keytest::zm().currentCipherHash();
    server.stop();
    view->pinButton()->click();
    typePins({kPin, kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("发生错误, 请稍后重试")});
    EXPECT_EQ(keytest::zm().currentCipherHash(), cipherHash);
}

// An account whose record an older build made: unlocking it with its short PIN asks for a new
// PIN, under which the same key is stored again the slow way; a reset then works on it.
TEST_F(EncryptionServerTest, AnOlderRecordUnlocksIsStoredAgainTheNewWayThenChangesAndResets)
{
    const QString olderPin = QStringLiteral("2468");
    const QString keyHash = storeOlderRecord(olderPin);
    view->pinButton()->click();
    ASSERT_TRUE(pinSheet());
    EXPECT_EQ(pinSheet()->step(), 0);
    typePins({olderPin});
    // Its PIN is shorter than today's rule: a new one is asked for, and the PIN change stores
    // the same key the new way under it, in place of the older record.
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("请设置新的PIN")});
    typePins({kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(2));
    EXPECT_EQ(alerts->messages().last(), QStringLiteral("修改PIN成功"));
    EXPECT_EQ(keytest::zm().currentKeyHash(), keyHash);
    EXPECT_EQ(storedVersion(), QStringLiteral("2.0"));
    EXPECT_EQ(keytest::zm().currentWrapVersionInUse(), QStringLiteral("2.0"));
    EXPECT_EQ(storedKeyDict()->value(QStringLiteral("key_hash")).toString(), keyHash);
    EXPECT_EQ(storedKeyDict()->value(QStringLiteral("cipher_hash")).toString(), keytest::zm().currentCipherHash());
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(kNewPin));

    view->revertButton()->click();
    ASSERT_TRUE(pwdSheet());
    enter(pwdSheet()->pwdTextField(), kPassword);
    typePins({kPin, kPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(4));
    EXPECT_EQ(alerts->messages().last(), QStringLiteral("加密档案重置成功!"));
    EXPECT_NE(keytest::zm().currentKeyHash(), keyHash);
    EXPECT_EQ(storedVersion(), QStringLiteral("2.0"));
    EXPECT_TRUE(keytest::zm().checkCurrentPwd(kPin));
    expectServerSawNoSecret({olderPin, kNewPin, kPin});
}

// A device whose keychain still holds the older wrap changes the PIN without unlocking first:
// the change is checked with the older verifier the server holds and leaves a new record.
TEST_F(EncryptionServerTest, APinChangeFromAnOlderKeyInTheKeychainLeavesANewRecord)
{
    const QString olderPin = QStringLiteral("2468");
    storeOlderRecord(olderPin);
    ASSERT_TRUE(keytest::zm().decryptKey(olderPin, QVariant(storedKeyDict()->toVariantMap())));
    // Restarted: the pair comes back from the keychain item, which says how it is wrapped.
    keytest::zm().resetForTesting();
    ASSERT_EQ(keytest::zm().state(), 1);
    EXPECT_EQ(keytest::zm().currentWrapVersionInUse(), QStringLiteral("1.0"));

    view->pinButton()->click();
    typePins({olderPin, kNewPin, kNewPin});
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("修改PIN成功")});
    EXPECT_EQ(storedVersion(), QStringLiteral("2.0"));
    EXPECT_EQ(keytest::zm().currentWrapVersionInUse(), QStringLiteral("2.0"));
}
