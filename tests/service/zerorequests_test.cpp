#include "keyfixture.h"
#include "support/webservicetest.h"

#include "platform/fake/keychainfake.h"
#include "service/initrequestmanager.h"
#include "service/serverpublickey.h"
#include "service/sodiumglue.h"
#include "service/zerogetrequestmanager.h"
#include "service/zeromanager.h"
#include "service/zeromodifyrequestmanager.h"
#include "service/zeropushrequestmanager.h"
#include "service/zerorevertrequestmanager.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <sodium.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace webtest;
using webdouble::RecordedRequest;

namespace {

const QString kEmail = QStringLiteral("keys@example.com");
const QString kPassword = QStringLiteral("account-pass-5531");
// PINs no hash, timestamp or Base64 text would contain by chance.
const QString kPin = QStringLiteral("Sesame#4821");
const QString kNewPin = QStringLiteral("Change&9173");
const QString kResetPin = QStringLiteral("Reset!6620");

using keytest::drainMainQueue;
using keytest::zm;

QJsonObject jsonOf(const std::string& body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

int codeOf(const Outcome& outcome)
{
    return outcome.result.toMap().value(QStringLiteral("code")).toInt();
}

// The verifier of a PIN for the records this build makes.
QString verifierOf(const QString& pin)
{
    return ZeroManager::sharedInstance().pinVerifier(pin, ZeroManager::currentWrapVersion());
}

// The Argon2id secret of a PIN for the logged-in account, at the limits the tests run with.
QByteArray pinSecretOf(const QString& pin)
{
    const QByteArray account = ConfigureManager::sharedInstance().loginUserId().value_or(QString()).toUtf8();
    unsigned char salt[CE_SALT_BYTES];
    EXPECT_TRUE(ce_account_salt(reinterpret_cast<const unsigned char*>(account.constData()), size_t(account.size()), salt));
    const QByteArray p = pin.toUtf8();
    QByteArray secret(CE_PIN_SECRET_BYTES, '\0');
    EXPECT_EQ(ce_derive_pin_secret(reinterpret_cast<const unsigned char*>(p.constData()), size_t(p.size()), salt,
                                   crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN,
                                   reinterpret_cast<unsigned char*>(secret.data())),
              0);
    return secret;
}

// The plain key a key_dict wraps, opened with its PIN as only this device can.
QByteArray plainKeyOf(const QVariantMap& keyDict, const QString& pin)
{
    const QByteArray cipher = QByteArray::fromBase64(keyDict.value(QStringLiteral("cipher")).toString().toLatin1());
    const QByteArray secret = pinSecretOf(pin);
    const QByteArray keyHash = keyDict.value(QStringLiteral("key_hash")).toString().toLatin1();
    unsigned char key[CE_KEY_BYTES];
    EXPECT_EQ(ce_unwrap_key_v2(reinterpret_cast<const unsigned char*>(secret.constData()), keyHash.constData(),
                               reinterpret_cast<const unsigned char*>(cipher.constData()), key),
              0);
    return QByteArray(reinterpret_cast<const char*>(key), sizeof key);
}

class KeyRequests : public WebServiceTest {
protected:
    void SetUp() override
    {
        WebServiceTest::SetUp();
        drainMainQueue();
        Keychain::setCurrent(std::make_shared<KeychainFake>());
        server.addAccount(kEmail, kPassword);
        logIn(kEmail, server.issueToken(kEmail));
        ServerPublicKey::store(QByteArray::fromBase64(server.publicKeyBase64().toLatin1()));
        drainMainQueue();
        zm().resetForTesting();
    }
    void TearDown() override
    {
        drainMainQueue();
        zm().resetForTesting();
        WebServiceTest::TearDown();
    }

    Outcome get() { return send(std::make_shared<ZeroGetRequestManager>()); }

    Outcome push(const QVariantMap& keyDict, const QString& pin)
    {
        auto request = std::make_shared<ZeroPushRequestManager>();
        request->key_dict = keyDict;
        request->pwd_verifier = verifierOf(pin);
        return send(request);
    }

    Outcome modify(const QVariantMap& keyDict, const QString& currentPin, const QString& newPin)
    {
        auto request = std::make_shared<ZeroModifyRequestManager>();
        request->key_dict = keyDict;
        request->curPwdVerifierB64 = verifierOf(currentPin);
        request->pwd_verifier = verifierOf(newPin);
        return send(request);
    }

    Outcome revert(const QVariantMap& keyDict, const QString& password, const QString& pin)
    {
        auto request = std::make_shared<ZeroRevertRequestManager>();
        request->key_dict = keyDict;
        request->pwd = password;
        request->pwd_verifier = verifierOf(pin);
        return send(request);
    }

    // Sets up the account's first key under kPin, as the window does on a 404.
    QVariantMap setUpFirstKey()
    {
        const auto dict = zm().generateKey(kPin);
        EXPECT_TRUE(dict.has_value());
        const Outcome pushed = push(*dict, kPin);
        EXPECT_EQ(codeOf(pushed), 0);
        EXPECT_TRUE(zm().makeKeyAvailable(*dict));
        drainMainQueue();
        return *dict;
    }

    RecordedRequest lastRequest()
    {
        const auto all = server.requests();
        EXPECT_FALSE(all.empty());
        return all.empty() ? RecordedRequest{} : all.back();
    }
};

}  // namespace

TEST_F(KeyRequests, AFirstKeyIsPushedThenOpenedOnAnotherDeviceWithThePin)
{
    const Outcome none = get();
    EXPECT_EQ(none.status, 200);
    EXPECT_FALSE(none.error.has_value());
    EXPECT_EQ(codeOf(none), 404);
    EXPECT_EQ(lastRequest().method, "GET");
    EXPECT_EQ(lastRequest().path, "/key/");

    const QVariantMap dict = setUpFirstKey();
    const RecordedRequest sent = server.requestsTo("/key/").back();
    EXPECT_EQ(sent.method, "PUT");
    EXPECT_NE(sent.query.find("&user_token="), std::string::npos);
    EXPECT_NE(sent.query.find("&encrypt=1"), std::string::npos);
    const QJsonObject body = jsonOf(sent.body);
    EXPECT_EQ(body.keys(), (QStringList{"key_dict", "pwd_verifier"}));
    ASSERT_TRUE(body.value("key_dict").isObject());
    EXPECT_EQ(body.value("key_dict").toObject().toVariantMap(), dict);
    EXPECT_EQ(body.value("pwd_verifier").toString(), verifierOf(kPin));
    EXPECT_EQ(zm().state(), 1);

    // A second device: nothing stored yet; the server's key_dict opens with the PIN.
    zm().resetForTesting();
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    EXPECT_EQ(zm().state(), 0);
    const Outcome held = get();
    ASSERT_EQ(codeOf(held), 0);
    const QVariant cipher = held.result.toMap().value(QStringLiteral("cipher"));
    EXPECT_FALSE(zm().decryptKey(kNewPin, cipher));
    ASSERT_TRUE(zm().decryptKey(kPin, cipher));
    EXPECT_EQ(zm().currentKeyHash(), dict.value("key_hash").toString());
    EXPECT_EQ(zm().currentCipherHash(), dict.value("cipher_hash").toString());
    // Further requests name the key in their common query.
    get();
    EXPECT_NE(lastRequest().query.find("&key_hash=" + dict.value("key_hash").toString().toStdString()
                                       + "&cipher_hash=" + dict.value("cipher_hash").toString().toStdString()),
              std::string::npos);
}

TEST_F(KeyRequests, APinChangeIsCheckedByItsVerifierAndKeepsTheKey)
{
    const QVariantMap first = setUpFirstKey();
    const auto encrypted = zm().encryptDataToBase64String(QStringLiteral("kept across the change"));
    ASSERT_TRUE(encrypted.has_value());

    // The current PIN is checked here before anything is sent.
    EXPECT_FALSE(zm().checkCurrentPwd(kNewPin));
    ASSERT_TRUE(zm().checkCurrentPwd(kPin));

    const auto changed = zm().modifyKeyWithPwd(kNewPin);
    ASSERT_TRUE(changed.has_value());
    const Outcome accepted = modify(*changed, kPin, kNewPin);
    ASSERT_EQ(codeOf(accepted), 0);
    const QJsonObject body = jsonOf(lastRequest().body);
    EXPECT_EQ(lastRequest().method, "POST");
    EXPECT_EQ(body.keys(), (QStringList{"key_dict", "last_pwd_hash", "pwd_verifier"}));
    EXPECT_EQ(body.value("last_pwd_hash").toString(), verifierOf(kPin));
    EXPECT_EQ(body.value("pwd_verifier").toString(), verifierOf(kNewPin));
    const QJsonObject sentDict = body.value("key_dict").toObject();
    EXPECT_EQ(sentDict.value("key_hash").toString(), first.value("key_hash").toString());
    EXPECT_EQ(sentDict.value("key_timestamp").toInteger(), first.value("key_timestamp").toLongLong());
    EXPECT_NE(sentDict.value("cipher").toString(), first.value("cipher").toString());
    EXPECT_NE(sentDict.value("cipher_hash").toString(), first.value("cipher_hash").toString());
    ASSERT_TRUE(zm().makeKeyAvailable(*changed));
    EXPECT_TRUE(zm().checkCurrentPwd(kNewPin));
    EXPECT_EQ(zm().decryptBase64String(encrypted->base64), QStringLiteral("kept across the change"));

    // The old PIN's verifier no longer matches: 401, and the key in use stays as it is.
    const auto again = zm().modifyKeyWithPwd(kResetPin);
    const Outcome refused = modify(*again, kPin, kResetPin);
    EXPECT_EQ(refused.status, 200);
    EXPECT_EQ(codeOf(refused), 401);
    EXPECT_EQ(zm().currentCipherHash(), changed->value("cipher_hash").toString());
    EXPECT_TRUE(zm().checkCurrentPwd(kNewPin));
}

TEST_F(KeyRequests, TheVerifierSentForTheSamePinIsAlwaysTheSame)
{
    setUpFirstKey();
    const auto a = zm().modifyKeyWithPwd(kNewPin);
    modify(*a, kResetPin, kNewPin);  // refused: only the sent text matters here
    const QString first = jsonOf(lastRequest().body).value("last_pwd_hash").toString();
    const auto b = zm().modifyKeyWithPwd(kNewPin);
    modify(*b, kResetPin, kNewPin);
    EXPECT_EQ(jsonOf(lastRequest().body).value("last_pwd_hash").toString(), first);
    EXPECT_EQ(first.size(), 44);
}

TEST_F(KeyRequests, AResetNeedsTheAccountPasswordSealedToTheServer)
{
    const QVariantMap old = setUpFirstKey();

    const auto wrong = zm().generateKey(kResetPin);
    const Outcome refused = revert(*wrong, QStringLiteral("not the password"), kResetPin);
    EXPECT_EQ(codeOf(refused), -5);
    EXPECT_EQ(zm().currentKeyHash(), old.value("key_hash").toString());

    const auto replacement = zm().generateKey(kResetPin);
    const Outcome replaced = revert(*replacement, kPassword, kResetPin);
    ASSERT_EQ(codeOf(replaced), 0);
    const QJsonObject body = jsonOf(lastRequest().body);
    EXPECT_EQ(lastRequest().path, "/revert_key/");
    EXPECT_EQ(lastRequest().method, "POST");
    EXPECT_EQ(body.keys(), (QStringList{"key_dict", "pwd_hash_cipher", "pwd_verifier"}));
    EXPECT_EQ(body.value("pwd_hash_cipher").toString().size(), 108);
    const auto opened =
        server.openSealed(QByteArray::fromBase64(body.value("pwd_hash_cipher").toString().toLatin1()));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->size(), 32);
    ASSERT_TRUE(zm().makeKeyAvailable(*replacement));
    EXPECT_EQ(zm().currentKeyHash(), replacement->value("key_hash").toString());
    {
        auto lock = server.lock();
        EXPECT_EQ(server.keyRoutes().fingerprint(server.accountByEmail(kEmail)->userId).value("key_hash").toString(),
                  replacement->value("key_hash").toString());
    }

    // Two seals of the same password differ.
    const QString firstSeal = body.value("pwd_hash_cipher").toString();
    revert(*zm().generateKey(kResetPin), kPassword, kResetPin);
    EXPECT_NE(jsonOf(lastRequest().body).value("pwd_hash_cipher").toString(), firstSeal);
}

TEST_F(KeyRequests, WithoutAStoredServerKeyTheResetCarriesNoPassword)
{
    setUpFirstKey();
    for (const QByteArray& stored : {QByteArray(), QByteArray(31, 'k')}) {
        if (stored.isEmpty())
            ServerPublicKey::remove();
        else
            UserDefaults::standard().setValue(DefaultsKey::ServerPublicKey, stored);
        const Outcome refused = revert(*zm().generateKey(kResetPin), kPassword, kResetPin);
        EXPECT_EQ(codeOf(refused), -5);
        EXPECT_EQ(jsonOf(lastRequest().body).keys(), (QStringList{"key_dict", "pwd_verifier"}));
    }
}

TEST_F(KeyRequests, NothingIsSentWhileLoggedOut)
{
    logOutQuietly();
    drainMainQueue();
    server.clearRequests();
    std::vector<std::shared_ptr<RequestManager>> requests{
        std::make_shared<ZeroGetRequestManager>(), std::make_shared<ZeroPushRequestManager>(),
        std::make_shared<ZeroModifyRequestManager>(), std::make_shared<ZeroRevertRequestManager>()};
    for (const auto& request : requests) {
        const Outcome outcome = send(request);
        EXPECT_TRUE(outcome.onMainThread);
        EXPECT_FALSE(outcome.result.isValid());
        EXPECT_EQ(outcome.status, RequestManager::kNoStatus);
        EXPECT_FALSE(outcome.error.has_value());
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(KeyRequests, AnExpiredLoginIsAFailedReplyAndChangesNoKey)
{
    const QVariantMap dict = setUpFirstKey();
    server.expireToken(*ConfigureManager::sharedInstance().loginUserToken());
    const Outcome outcome = modify(*zm().modifyKeyWithPwd(kNewPin), kPin, kNewPin);
    EXPECT_NE(codeOf(outcome), 0);
    EXPECT_EQ(zm().currentCipherHash(), dict.value("cipher_hash").toString());
}

// A PIN changed on another device re-wraps the same key: the next reply's key check drops
// the local pair and its item; the new PIN opens the server's record again.
TEST_F(KeyRequests, APinChangedElsewhereDropsTheLocalPairAtTheNextServerCheck)
{
    const QVariantMap first = setUpFirstKey();
    const auto elsewhere = zm().modifyKeyWithPwd(kNewPin);
    ASSERT_EQ(codeOf(modify(*elsewhere, kPin, kNewPin)), 0);
    ASSERT_EQ(zm().state(), 1);

    const Outcome init = send(std::make_shared<InitRequestManager>());
    EXPECT_EQ(codeOf(init), 0);
    EXPECT_FALSE(zm().currentKeyHash().has_value());
    EXPECT_EQ(zm().state(), 0);

    const Outcome held = get();
    ASSERT_TRUE(zm().decryptKey(kNewPin, held.result.toMap().value(QStringLiteral("cipher"))));
    EXPECT_EQ(zm().currentKeyHash(), first.value("key_hash").toString());
    EXPECT_EQ(zm().currentCipherHash(), elsewhere->value("cipher_hash").toString());
    // Now the check agrees and nothing is dropped.
    send(std::make_shared<InitRequestManager>());
    EXPECT_EQ(zm().state(), 1);
}

// A reset on another device: the next reply reports the new key and drops the old pair; a
// record of the old key read before then is refused, the service's new record opens.
TEST_F(KeyRequests, AKeyResetElsewhereOpensAndARecordReadBeforeItDoesNot)
{
    const QVariantMap first = setUpFirstKey();
    const QVariant readBefore = get().result.toMap().value(QStringLiteral("cipher"));
    // The other device's reset, made here without installing it.
    const auto replacement = zm().generateKey(kResetPin);
    ASSERT_TRUE(replacement.has_value());
    ASSERT_EQ(codeOf(revert(*replacement, kPassword, kResetPin)), 0);
    ASSERT_EQ(zm().currentKeyHash(), first.value("key_hash").toString());

    send(std::make_shared<InitRequestManager>());
    EXPECT_EQ(zm().state(), 0);
    KeyRefusal why = KeyRefusal::None;
    EXPECT_FALSE(zm().decryptKey(kPin, readBefore, &why));
    EXPECT_EQ(why, KeyRefusal::NotKnownKey);
    EXPECT_EQ(zm().state(), 0);

    ASSERT_TRUE(zm().decryptKey(kResetPin, get().result.toMap().value(QStringLiteral("cipher")), &why));
    EXPECT_EQ(zm().currentKeyHash(), replacement->value("key_hash").toString());
    send(std::make_shared<InitRequestManager>());
    EXPECT_EQ(zm().state(), 1);
}

// A device without the key heard the old key reported, then the key was reset elsewhere: the
// record it reads now is the service's latest word and opens, unlike the old one.
TEST_F(KeyRequests, TheRecordReadIsTheServicesLatestReport)
{
    const QVariantMap first = setUpFirstKey();
    zm().resetForTesting();
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    send(std::make_shared<InitRequestManager>());
    ASSERT_EQ(zm().state(), 0);
    const QVariant readBefore = get().result.toMap().value(QStringLiteral("cipher"));

    const auto replacement = zm().generateKey(kResetPin);
    ASSERT_TRUE(replacement.has_value());
    ASSERT_EQ(codeOf(revert(*replacement, kPassword, kResetPin)), 0);

    const QVariant readNow = get().result.toMap().value(QStringLiteral("cipher"));
    KeyRefusal why = KeyRefusal::None;
    EXPECT_FALSE(zm().decryptKey(kPin, readBefore, &why));
    EXPECT_EQ(why, KeyRefusal::NotKnownKey);
    ASSERT_TRUE(zm().decryptKey(kResetPin, readNow, &why));
    EXPECT_EQ(zm().currentKeyHash(), replacement->value("key_hash").toString());
    EXPECT_NE(zm().currentKeyHash(), first.value("key_hash").toString());
}

// An expired login ends in "USER_LOGOUTED" without the user pane: the key leaves memory, the
// user's item stays for their next login, and another account never sees it.
TEST_F(KeyRequests, ALogoutByAnExpiredTokenEmptiesTheSlots)
{
    const QVariantMap first = setUpFirstKey();
    server.expireToken(*ConfigureManager::sharedInstance().loginUserToken());
    send(std::make_shared<InitRequestManager>());
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
    ASSERT_TRUE(testenv::waitUntil([] { return !ZeroManager::sharedInstance().currentKeyHash().has_value(); }));
    drainMainQueue();

    server.addAccount(QStringLiteral("other@example.com"), kPassword);
    logIn(QStringLiteral("other@example.com"), server.issueToken(QStringLiteral("other@example.com")));
    drainMainQueue();
    EXPECT_EQ(zm().state(), 0);
    EXPECT_EQ(codeOf(get()), 404);
    EXPECT_EQ(lastRequest().query.find("&key_hash="), std::string::npos);

    logOutQuietly();
    logIn(kEmail, server.issueToken(kEmail));
    drainMainQueue();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_EQ(zm().currentKeyHash(), first.value("key_hash").toString());
}

// Whatever the flow, the server sees wrapped keys, hashes, verifiers and sealed values only.
TEST_F(KeyRequests, NoRequestEverCarriesThePinTheWrapKeyOrThePlainKey)
{
    const QVariantMap first = setUpFirstKey();
    get();
    const auto wrongPinChange = zm().modifyKeyWithPwd(kNewPin);
    modify(*wrongPinChange, kResetPin, kNewPin);
    const auto changed = zm().modifyKeyWithPwd(kNewPin);
    ASSERT_EQ(codeOf(modify(*changed, kPin, kNewPin)), 0);
    ASSERT_TRUE(zm().makeKeyAvailable(*changed));
    revert(*zm().generateKey(kResetPin), QStringLiteral("wrong password"), kResetPin);
    const auto replacement = zm().generateKey(kResetPin);
    ASSERT_EQ(codeOf(revert(*replacement, kPassword, kResetPin)), 0);
    ASSERT_TRUE(zm().makeKeyAvailable(*replacement));
    get();

    std::vector<QByteArray> secrets;
    for (const QString& pin : {kPin, kNewPin, kResetPin}) {
        secrets.push_back(pin.toUtf8());
        secrets.push_back(ZeroManager::hashPwd(pin));
        secrets.push_back(pinSecretOf(pin));
    }
    secrets.push_back(kPassword.toUtf8());
    secrets.push_back(plainKeyOf(first, kPin));
    secrets.push_back(plainKeyOf(*replacement, kResetPin));
    std::vector<QByteArray> needles;
    for (const QByteArray& s : secrets) {
        needles.push_back(s);
        needles.push_back(s.toBase64());
        needles.push_back(s.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        needles.push_back(s.toBase64(QByteArray::OmitTrailingEquals));
        needles.push_back(s.toHex());
        needles.push_back(s.toHex().toUpper());
    }

    const auto all = server.requests();
    ASSERT_EQ(all.size(), 7u);
    for (const RecordedRequest& r : all) {
        const QByteArray query = QByteArray::fromStdString(r.query);
        const QByteArray haystacks[] = {query, QByteArray::fromPercentEncoding(query),
                                        QUrl::fromPercentEncoding(query).toUtf8(),
                                        QByteArray::fromStdString(r.body)};
        for (const QByteArray& haystack : haystacks)
            for (const QByteArray& needle : needles)
                EXPECT_FALSE(haystack.contains(needle))
                    << r.method << " " << r.path << " carries " << needle.toStdString();
    }
}
