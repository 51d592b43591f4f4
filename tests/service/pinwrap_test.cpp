// How the key is wrapped under the PIN: what the server holds must cost an Argon2id run per
// guess, older records still open and are wrapped again the new way at the next unlock.

#include "keyfixture.h"
#include "support/webservicetest.h"

#include "platform/fake/keychainfake.h"
#include "service/serverpublickey.h"
#include "service/sodiumglue.h"
#include "service/zerogetrequestmanager.h"
#include "service/zeromanager.h"
#include "service/zeromodifyrequestmanager.h"
#include "service/zeropushrequestmanager.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <sodium.h>

#include <gtest/gtest.h>

#include <memory>

using namespace webtest;

namespace {

const QString kEmail = QStringLiteral("wrap@example.com");
const QString kPassword = QStringLiteral("account-pass-8812");
const QString kPin = QStringLiteral("493817");
const QString kOtherPin = QStringLiteral("493818");

using keytest::drainMainQueue;
using keytest::zm;

int codeOf(const Outcome& outcome)
{
    return outcome.result.toMap().value(QStringLiteral("code")).toInt();
}

QByteArray bytesOf(const QString& base64)
{
    return QByteArray::fromBase64(base64.toLatin1());
}

const unsigned char* u(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

// What an attacker holding the server's records computes for one guess, written from
// libsodium alone: Argon2id at the given limits, then the labelled BLAKE2b steps.
struct Guess {
    bool opened = false;
    QByteArray key;
    QString verifier;
};

QByteArray labelled(const QByteArray& secret, const QByteArray& message, size_t length)
{
    QByteArray out(qsizetype(length), '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), length, u(message), size_t(message.size()),
                       u(secret), size_t(secret.size()));
    return out;
}

Guess guessWithArgon2id(const QString& pin, const QString& userId, const QJsonObject& keyDict,
                        unsigned long long opslimit, size_t memlimit)
{
    Guess guess;
    QByteArray salt(crypto_pwhash_SALTBYTES, '\0');
    const QByteArray saltInput = QByteArrayLiteral("nuvarel-pin-salt:") + userId.toUtf8();
    crypto_generichash(reinterpret_cast<unsigned char*>(salt.data()), size_t(salt.size()), u(saltInput),
                       size_t(saltInput.size()), nullptr, 0);
    const QByteArray p = pin.toUtf8();
    QByteArray secret(32, '\0');
    if (crypto_pwhash(reinterpret_cast<unsigned char*>(secret.data()), 32, p.constData(), size_t(p.size()), u(salt),
                      opslimit, memlimit, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return guess;
    const QByteArray boxKey = labelled(secret, QByteArrayLiteral("nuvarel-wrap-key"), 32);
    const QByteArray nonce = labelled(
        secret, QByteArrayLiteral("nuvarel-wrap-nonce") + keyDict.value("key_hash").toString().toLatin1(), 24);
    guess.verifier = QString::fromLatin1(labelled(secret, QByteArrayLiteral("pin-verifier"), 32).toBase64());
    const QByteArray cipher = bytesOf(keyDict.value("cipher").toString());
    QByteArray key(32, '\0');
    guess.opened = cipher.size() == 48
                   && crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(key.data()), u(cipher), 48, u(nonce),
                                                 u(boxKey))
                          == 0;
    if (guess.opened)
        guess.key = key;
    return guess;
}

// The older attack: one unsalted BLAKE2b per guess opens the cipher and matches the verifier.
bool blake2bGuessOpens(const QString& pin, const QJsonObject& keyDict, const QString& verifier)
{
    const QByteArray p = pin.toUtf8();
    const QByteArray cipher = bytesOf(keyDict.value("cipher").toString());
    unsigned char key[CE_KEY_BYTES];
    const bool opens = cipher.size() == 48 && ce_unwrap_key(u(p), size_t(p.size()), u(cipher), key) == 0;
    return opens || ZeroManager::pinVerifierWithBase64(pin) == verifier;
}

QString keyHashOf(const QByteArray& key, qint64 timestamp)
{
    ce_data data{};
    std::memcpy(data.key, key.constData(), CE_KEY_BYTES);
    data.key_timestamp = timestamp;
    char hash[CE_HASH_HEX_BYTES];
    ce_compute_key_hash(&data, hash);
    return QString::fromLatin1(hash, 64);
}

class PinWrap : public WebServiceTest {
protected:
    void SetUp() override
    {
        WebServiceTest::SetUp();
        drainMainQueue();
        Keychain::setCurrent(m_keychain);
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
        ZeroManager::useCheapWrapLimitsForTesting();
        WebServiceTest::TearDown();
    }

    QString userId() const { return *ConfigureManager::sharedInstance().loginUserId(); }

    webdouble::KeyRoutes::StoredKey storedKey()
    {
        const auto& keys = server.keyRoutes().state().keys;
        const auto it = keys.find(userId().toLongLong());
        EXPECT_NE(it, keys.end());
        return it == keys.end() ? webdouble::KeyRoutes::StoredKey{} : it->second;
    }

    // The first key, made and pushed as the window's new-key flow does.
    QVariantMap setUpKey(const QString& pin)
    {
        QString verifier;
        const auto dict = zm().generateKey(pin, &verifier);
        EXPECT_TRUE(dict.has_value());
        auto push = std::make_shared<ZeroPushRequestManager>();
        push->key_dict = *dict;
        push->pwd_verifier = verifier;
        EXPECT_EQ(codeOf(send(push)), 0);
        EXPECT_TRUE(zm().makeKeyAvailable(*dict));
        drainMainQueue();
        return *dict;
    }

    // Another device of the same account: nothing in memory or in its keychain.
    void becomeAnotherDevice()
    {
        zm().resetForTesting();
        m_keychain = std::make_shared<KeychainFake>();
        Keychain::setCurrent(m_keychain);
    }

    QVariant serverRecord()
    {
        const Outcome held = send(std::make_shared<ZeroGetRequestManager>());
        EXPECT_EQ(codeOf(held), 0);
        return held.result.toMap().value(QStringLiteral("cipher"));
    }

    std::shared_ptr<KeychainFake> m_keychain = std::make_shared<KeychainFake>();
};

}  // namespace

// The product's limits: the record the server receives opens only through Argon2id at
// libsodium's moderate limits, so each guess at the PIN costs one such run; the unsalted hash
// and cheaper limits open nothing, and the verifier is no shortcut either.
TEST_F(PinWrap, OneGuessAtTheServersRecordCostsAnArgon2idRunAtModerateLimits)
{
    ZeroManager::useProductWrapLimitsForTesting();
    const QVariantMap made = setUpKey(kPin);
    const webdouble::KeyRoutes::StoredKey stored = storedKey();
    const QJsonObject& dict = stored.keyDict;

    // The record keeps its sizes; only its version tells the wraps apart.
    EXPECT_EQ(dict.value("version").toString(), QStringLiteral("2.0"));
    EXPECT_EQ(dict.value("cipher").toString().size(), 64);
    EXPECT_EQ(bytesOf(dict.value("cipher").toString()).size(), 48);
    EXPECT_EQ(stored.pwdVerifier.size(), 44);

    EXPECT_FALSE(blake2bGuessOpens(kPin, dict, stored.pwdVerifier));
    const Guess cheaper = guessWithArgon2id(kPin, userId(), dict, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                            crypto_pwhash_MEMLIMIT_INTERACTIVE);
    EXPECT_FALSE(cheaper.opened);
    EXPECT_NE(cheaper.verifier, stored.pwdVerifier);
    const Guess wrong = guessWithArgon2id(kOtherPin, userId(), dict, crypto_pwhash_OPSLIMIT_MODERATE,
                                          crypto_pwhash_MEMLIMIT_MODERATE);
    EXPECT_FALSE(wrong.opened);
    EXPECT_NE(wrong.verifier, stored.pwdVerifier);

    const Guess right = guessWithArgon2id(kPin, userId(), dict, crypto_pwhash_OPSLIMIT_MODERATE,
                                          crypto_pwhash_MEMLIMIT_MODERATE);
    ASSERT_TRUE(right.opened);
    EXPECT_EQ(right.verifier, stored.pwdVerifier);
    EXPECT_EQ(keyHashOf(right.key, dict.value("key_timestamp").toInteger()), made.value("key_hash").toString());

    // The salt is the account's: the same PIN on another account gives another wrap key.
    const Guess elsewhere = guessWithArgon2id(kPin, userId() + QStringLiteral("0"), dict,
                                              crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE);
    EXPECT_FALSE(elsewhere.opened);
}

// A PIN change and a second device, both on the new wrap: the change sends the verifier the
// server holds, and the record the change leaves opens on another device with the new PIN.
TEST_F(PinWrap, NewRecordsOpenElsewhereAndChangeWithTheirOwnVerifier)
{
    setUpKey(kPin);
    EXPECT_EQ(zm().currentWrapVersionInUse(), QStringLiteral("2.0"));

    QString current;
    EXPECT_FALSE(zm().checkCurrentPwd(kOtherPin, &current));
    EXPECT_TRUE(current.isEmpty());
    ASSERT_TRUE(zm().checkCurrentPwd(kPin, &current));
    EXPECT_EQ(current, storedKey().pwdVerifier);
    EXPECT_NE(current, ZeroManager::pinVerifierWithBase64(kPin));

    QString next;
    const auto changed = zm().modifyKeyWithPwd(kOtherPin, &next);
    ASSERT_TRUE(changed.has_value());
    auto modify = std::make_shared<ZeroModifyRequestManager>();
    modify->key_dict = *changed;
    modify->curPwdVerifierB64 = current;
    modify->pwd_verifier = next;
    ASSERT_EQ(codeOf(send(modify)), 0);
    ASSERT_TRUE(zm().makeKeyAvailable(*changed));
    EXPECT_EQ(storedKey().pwdVerifier, next);

    becomeAnotherDevice();
    const QVariant record = serverRecord();
    EXPECT_FALSE(zm().decryptKey(kPin, record));
    ASSERT_TRUE(zm().decryptKey(kOtherPin, record));
    EXPECT_EQ(zm().currentKeyHash(), changed->value("key_hash").toString());
    EXPECT_EQ(zm().currentWrapVersionInUse(), QStringLiteral("2.0"));
    // No older record is left to wrap again.
    EXPECT_FALSE(zm().rewrapOlderKey(kOtherPin).has_value());

    // The keychain item says how its cipher is wrapped, so a restart checks the PIN the same way.
    zm().resetForTesting();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_TRUE(zm().checkCurrentPwd(kOtherPin));
    EXPECT_FALSE(zm().checkCurrentPwd(kPin));
}

// A record made by an older build (version "1.0", its verifier the unsalted kind) still opens;
// the PIN that opened it wraps the same key again the new way, and the server ends up with a
// record the unsalted hash cannot open.
TEST_F(PinWrap, AnOlderRecordStillOpensAndIsWrappedAgainTheNewWay)
{
    const QByteArray pin = kPin.toUtf8();
    ce_data* data = ce_new_data();
    ce_cipher_data* cipher = ce_new_cipher_data(u(pin), size_t(pin.size()), data);
    ASSERT_TRUE(data && cipher);
    const QVariantMap older = ZeroManager::dictFromCEData(*data, *cipher);
    const QString keyHash = QString::fromLatin1(data->key_hash, 64);
    ce_free_data(data);
    ce_free_cipher_data(cipher);
    EXPECT_EQ(older.value("version").toString(), QStringLiteral("1.0"));
    auto push = std::make_shared<ZeroPushRequestManager>();
    push->key_dict = older;
    push->pwd_verifier = ZeroManager::pinVerifierWithBase64(kPin);
    ASSERT_EQ(codeOf(send(push)), 0);

    const QVariant record = serverRecord();
    // A record without a version is read as the older kind; one of a version this build does
    // not know is refused.
    QVariantMap unversioned = record.toMap();
    unversioned.remove(QStringLiteral("version"));
    QVariantMap unknown = record.toMap();
    unknown.insert(QStringLiteral("version"), QStringLiteral("3.0"));
    EXPECT_FALSE(zm().decryptKey(kPin, unknown));
    EXPECT_TRUE(zm().decryptKey(kPin, unversioned));
    zm().resetForTesting();

    ASSERT_TRUE(zm().decryptKey(kPin, record));
    EXPECT_EQ(zm().currentWrapVersionInUse(), QStringLiteral("1.0"));
    EXPECT_EQ(zm().currentKeyHash(), keyHash);
    EXPECT_FALSE(zm().rewrapOlderKey(kOtherPin).has_value());

    const auto rewrap = zm().rewrapOlderKey(kPin);
    ASSERT_TRUE(rewrap.has_value());
    EXPECT_EQ(rewrap->lastPwdVerifier, ZeroManager::pinVerifierWithBase64(kPin));
    EXPECT_EQ(rewrap->keyDict.value("version").toString(), QStringLiteral("2.0"));
    EXPECT_EQ(rewrap->keyDict.value("key_hash").toString(), keyHash);
    auto modify = std::make_shared<ZeroModifyRequestManager>();
    modify->key_dict = rewrap->keyDict;
    modify->curPwdVerifierB64 = rewrap->lastPwdVerifier;
    modify->pwd_verifier = rewrap->pwdVerifier;
    ASSERT_EQ(codeOf(send(modify)), 0);
    ASSERT_TRUE(zm().makeKeyAvailable(rewrap->keyDict));
    EXPECT_EQ(zm().currentWrapVersionInUse(), QStringLiteral("2.0"));
    EXPECT_EQ(zm().currentKeyHash(), keyHash);

    const webdouble::KeyRoutes::StoredKey stored = storedKey();
    EXPECT_EQ(stored.keyDict.value("version").toString(), QStringLiteral("2.0"));
    EXPECT_EQ(stored.pwdVerifier, rewrap->pwdVerifier);
    EXPECT_FALSE(blake2bGuessOpens(kPin, stored.keyDict, stored.pwdVerifier));

    becomeAnotherDevice();
    ASSERT_TRUE(zm().decryptKey(kPin, serverRecord()));
    EXPECT_EQ(zm().currentKeyHash(), keyHash);
}

// The new wrap binds the key hash the record names: a record whose hash was swapped does not
// open, and neither does a cipher of the older kind labelled as new.
TEST_F(PinWrap, ANewRecordOpensOnlyAsItWasMade)
{
    const QVariantMap made = setUpKey(kPin);
    becomeAnotherDevice();

    QVariantMap swapped = made;
    QString otherHash = made.value("key_hash").toString();
    otherHash[0] = otherHash[0] == u'a' ? u'b' : u'a';
    swapped.insert(QStringLiteral("key_hash"), otherHash);
    EXPECT_FALSE(zm().decryptKey(kPin, swapped));

    QVariantMap relabelled = made;
    relabelled.insert(QStringLiteral("version"), QStringLiteral("1.0"));
    EXPECT_FALSE(zm().decryptKey(kPin, relabelled));
    EXPECT_EQ(zm().state(), 0);

    EXPECT_TRUE(zm().decryptKey(kPin, made));
}
