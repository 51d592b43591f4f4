#include "keyfixture.h"

#include "platform/fake/keychainfake.h"
#include "store/dbkeeper.h"
#include "store/deviceidentity.h"
#include "store/notificationnames.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>

#include <sodium.h>

#include <gtest/gtest.h>

using namespace keytest;
using namespace historytest;

namespace {

const QString kUser = QStringLiteral("42");
const QString kPin = QStringLiteral("2468");

QString account(const QString& user = kUser)
{
    return ZeroManager::storeKey(user);
}

bool isHex64(const QVariant& v)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{64}$"));
    return v.typeId() == QMetaType::QString && re.match(v.toString()).hasMatch();
}

QByteArray withField(const QByteArray& record, size_t offset, char value)
{
    QByteArray out = record;
    out[qsizetype(offset)] = value;
    return out;
}

}  // namespace

// --- Key state ------------------------------------------------------------------------------

class KeyState : public KeyTest {};

TEST_F(KeyState, FollowsTheLoggedInUsersItemAndItsShape)
{
    const TestPair pair = makePair(kPin);
    const QByteArray item = pair.item();
    const auto plist = [](const QVariantMap& m) { return ZeroManager::plistDataDict(m); };
    const QString keyData = QStringLiteral("keyData");
    const QString cipherData = QStringLiteral("cipherData");

    struct Case {
        const char* name;
        bool loggedIn;
        QString itemUser;
        QByteArray itemBytes;
        int state;
    };
    const Case cases[] = {
        {"logged out, item present", false, kUser, item, 0},
        {"no item", true, QString(), {}, 0},
        {"item of another user", true, QStringLiteral("7"), item, 0},
        {"item present", true, kUser, item, 1},
        {"key record one byte short", true, kUser,
         plist({{keyData, pair.keyData().chopped(1)}, {cipherData, pair.cipherData()}}), 0},
        {"wrapped record one byte long", true, kUser,
         plist({{keyData, pair.keyData()}, {cipherData, pair.cipherData() + 'x'}}), 0},
        {"only the key record", true, kUser, plist({{keyData, pair.keyData()}}), 0},
        {"records as text", true, kUser,
         plist({{keyData, QString::fromLatin1(pair.keyData().toHex())}, {cipherData, pair.cipherData()}}), 0},
        {"not a property list", true, kUser, QByteArray("keyData=...."), 0},
        {"key hash not hex", true, kUser,
         plist({{keyData, withField(pair.keyData(), 40, 'Z')}, {cipherData, pair.cipherData()}}), 0},
        {"cipher hash without its terminating zero", true, kUser,
         plist({{keyData, pair.keyData()}, {cipherData, withField(pair.cipherData(), 56 + 64, 'a')}}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keychain = std::make_shared<KeychainFake>();
        Keychain::setCurrent(keychain);
        zm().resetForTesting();
        if (!c.itemUser.isEmpty())
            keychain->setPasswordData(c.itemBytes, service(), account(c.itemUser));
        if (c.loggedIn)
            loginAs(kUser);
        else
            logout();
        drainMainQueue();
        EXPECT_EQ(zm().state(), c.state);
        EXPECT_EQ(zm().currentKeyHash(), c.state ? std::optional<QString>(pair.keyHash()) : std::nullopt);
        EXPECT_EQ(zm().currentCipherHash(), c.state ? std::optional<QString>(pair.cipherHash()) : std::nullopt);
    }
}

TEST_F(KeyState, IsZeroWhenLibsodiumIsUnusable)
{
    keychain->setPasswordData(makePair(kPin).item(), service(), account());
    ce_set_unavailable_for_testing(true);
    EXPECT_EQ(zm().state(), 0);
    ce_set_unavailable_for_testing(false);
    EXPECT_EQ(zm().state(), 1);
}

TEST_F(KeyState, AKeychainThatDoesNotAnswerMeansNoKeyAndIsNotAskedOnEveryQuery)
{
    keychain->setPasswordData(makePair(kPin).item(), service(), account());
    keychain->setUnavailable(true);
    EXPECT_EQ(zm().state(), 0);
    const int asked = keychain->lookupCount();
    EXPECT_EQ(zm().state(), 0);
    EXPECT_EQ(keychain->lookupCount(), asked);
    // A new login asks again.
    keychain->setUnavailable(false);
    loginAs(kUser);
    drainMainQueue();
    EXPECT_EQ(zm().state(), 1);
}

TEST_F(KeyState, ALoginMakesTheStoredKeyAvailableAtTheNextQuery)
{
    EXPECT_EQ(zm().state(), 0);
    const TestPair pair = makePair(kPin);
    keychain->setPasswordData(pair.item(), service(), account(QStringLiteral("43")));
    loginAs(QStringLiteral("43"));
    drainMainQueue();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_EQ(zm().currentKeyHash(), pair.keyHash());
}

TEST_F(KeyState, AnyLogoutEmptiesEverySlotButKeepsTheUsersItem)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    const auto pending = zm().generateKey(QStringLiteral("1357"));
    ASSERT_TRUE(pending.has_value());
    ASSERT_EQ(zm().state(), 1);

    // As an expired token does it: no call into the key manager, only the notification.
    logout();
    drainMainQueue();
    EXPECT_EQ(zm().state(), 0);
    EXPECT_FALSE(zm().currentKeyHash().has_value());
    EXPECT_TRUE(keychain->contains(service(), account()));

    // Another user logging in next finds nothing of the first user's key.
    loginAs(QStringLiteral("7"));
    drainMainQueue();
    EXPECT_EQ(zm().state(), 0);
    EXPECT_FALSE(zm().encryptDataToBase64String(QStringLiteral("x")).has_value());
    EXPECT_FALSE(zm().modifyKeyWithPwd(QStringLiteral("1111")).has_value());

    // The first user comes back: the key is read from the item again; the old pending pair is gone.
    loginAs(kUser);
    drainMainQueue();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_EQ(zm().currentKeyHash(), pair.keyHash());
    EXPECT_FALSE(zm().makeKeyAvailable(*pending));
}

TEST_F(KeyState, AnotherUsersPairInMemoryIsNeverUsed)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    // The user id changes under a live token, with no logout in between.
    ConfigureManager::sharedInstance().setLoginUserId(QStringLiteral("7"));
    EXPECT_FALSE(zm().currentKeyHash().has_value());
    EXPECT_FALSE(zm().encryptData("x").has_value());
    EXPECT_FALSE(zm().checkCurrentPwd(kPin));
    // Nor does user 7's server check touch user 42's key or item.
    EXPECT_TRUE(zm().checkServerCipher(QVariantMap{{"key_hash", QString(64, 'a')}, {"cipher_hash", QString(64, 'b')}}));
    EXPECT_TRUE(keychain->contains(service(), account()));
    EXPECT_EQ(zm().state(), 0);
    ConfigureManager::sharedInstance().setLoginUserId(kUser);
    EXPECT_EQ(zm().state(), 1);
}

TEST_F(KeyState, CleanKeyInfoDeletesTheItemAndEmptiesEverySlot)
{
    install(makePair(kPin), kPin);
    const auto pending = zm().generateKey(QStringLiteral("1357"));
    ASSERT_TRUE(pending.has_value());
    zm().cleanKeyInfo();
    EXPECT_FALSE(keychain->contains(service(), account()));
    EXPECT_EQ(zm().state(), 0);
    EXPECT_FALSE(zm().makeKeyAvailable(*pending));
}

TEST_F(KeyState, CleanKeyDatasDropsTheCurrentPairAndItsItemButKeepsThePending)
{
    install(makePair(kPin), kPin);
    const auto pending = zm().generateKey(QStringLiteral("1357"));
    ASSERT_TRUE(pending.has_value());
    zm().cleanKeyDatas();
    EXPECT_FALSE(keychain->contains(service(), account()));
    EXPECT_EQ(zm().state(), 0);
    EXPECT_TRUE(zm().makeKeyAvailable(*pending));
    EXPECT_EQ(zm().currentKeyHash(), pending->value("key_hash").toString());
}

// --- Making and installing keys ---------------------------------------------------------------

class KeyMaking : public KeyTest {};

TEST_F(KeyMaking, GenerateKeyGivesAKeyDictAndLeavesTheCurrentPairAlone)
{
    const TestPair current = makePair(kPin);
    install(current, kPin);
    const auto dict = zm().generateKey(QStringLiteral("1357"));
    ASSERT_TRUE(dict.has_value());
    EXPECT_EQ(dict->keys(), (QStringList{"cipher", "cipher_hash", "cipher_timestamp", "key_hash", "key_timestamp",
                                         "platform", "version"}));
    EXPECT_EQ(dict->value("cipher").toString().size(), 64);
    EXPECT_EQ(QByteArray::fromBase64(dict->value("cipher").toString().toLatin1()).size(), 48);
    EXPECT_TRUE(isHex64(dict->value("key_hash")));
    EXPECT_TRUE(isHex64(dict->value("cipher_hash")));
    // Every key made now is wrapped the slow way.
    EXPECT_EQ(dict->value("version").toString(), "2.0");
    EXPECT_EQ(dict->value("platform").toString(), currentDeviceType());
    EXPECT_EQ(dict->value("key_timestamp").typeId(), QMetaType::LongLong);
    EXPECT_NEAR(double(dict->value("key_timestamp").toLongLong()), double(time(nullptr)), 5.0);

    EXPECT_EQ(zm().currentKeyHash(), current.keyHash());
    EXPECT_NE(dict->value("key_hash").toString(), current.keyHash());
}

TEST_F(KeyMaking, NoKeyForAnEmptyPinOrWithNobodyLoggedIn)
{
    EXPECT_FALSE(zm().generateKey(QString()).has_value());
    install(makePair(kPin), kPin);
    EXPECT_FALSE(zm().modifyKeyWithPwd(QString()).has_value());
    logout();
    drainMainQueue();
    EXPECT_FALSE(zm().generateKey(kPin).has_value());
    EXPECT_FALSE(zm().decryptKey(kPin, makePair(kPin).keyDict()));
}

TEST_F(KeyMaking, MakeKeyAvailableInstallsOnlyThePairTheServerAccepted)
{
    NotificationCounter zeroChanged(NotificationName::ZeroChanged);
    EXPECT_FALSE(zm().makeKeyAvailable({}));

    const auto first = zm().generateKey(kPin);
    const auto second = zm().generateKey(kPin);
    ASSERT_TRUE(first && second);
    // The server accepted the first pair, but a second one was made meanwhile.
    EXPECT_FALSE(zm().makeKeyAvailable(*first));
    EXPECT_EQ(zm().state(), 0);
    QVariantMap mixed = *second;
    mixed["cipher_hash"] = first->value("cipher_hash");
    EXPECT_FALSE(zm().makeKeyAvailable(mixed));

    EXPECT_TRUE(zm().makeKeyAvailable(*second));
    EXPECT_EQ(zm().state(), 1);
    EXPECT_EQ(zm().currentKeyHash(), second->value("key_hash").toString());
    EXPECT_EQ(zm().currentCipherHash(), second->value("cipher_hash").toString());
    EXPECT_TRUE(testenv::waitUntil([&] { return zeroChanged.count() == 1; }));

    // The item holds the exact records; the pending slot is empty now.
    const auto item = ZeroManager::dictionaryWithPlistData(keychain->passwordData(service(), account()));
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->value("keyData").toByteArray().size(), 112);
    EXPECT_EQ(item->value("cipherData").toByteArray().size(), 128);
    EXPECT_EQ(item->value("keyData").toByteArray().mid(40, 64), second->value("key_hash").toString().toLatin1());
    EXPECT_FALSE(zm().makeKeyAvailable(*second));

    // What was stored opens with the PIN in a fresh run.
    zm().resetForTesting();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_TRUE(zm().checkCurrentPwd(kPin));
}

TEST_F(KeyMaking, AFailedSaveLeavesTheKeyUsableForThisRun)
{
    keychain->setUnavailable(true);
    const auto dict = zm().generateKey(kPin);
    ASSERT_TRUE(zm().makeKeyAvailable(*dict));
    EXPECT_EQ(zm().state(), 1);
    EXPECT_TRUE(zm().encryptDataToBase64String(QStringLiteral("still works")).has_value());
}

TEST_F(KeyMaking, ModifyKeepsTheKeyAndRewrapsItUnderTheNewPin)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    const auto before = zm().encryptDataToBase64String(QStringLiteral("before the change"));
    ASSERT_TRUE(before.has_value());

    const QString newPin = QStringLiteral("9999");
    const auto dict = zm().modifyKeyWithPwd(newPin);
    ASSERT_TRUE(dict.has_value());
    const QVariantMap old = pair.keyDict();
    EXPECT_EQ(dict->value("key_hash"), old.value("key_hash"));
    EXPECT_EQ(dict->value("key_timestamp"), old.value("key_timestamp"));
    EXPECT_NE(dict->value("cipher"), old.value("cipher"));
    EXPECT_NE(dict->value("cipher_hash"), old.value("cipher_hash"));
    EXPECT_GE(dict->value("cipher_timestamp").toLongLong(), old.value("cipher_timestamp").toLongLong());

    // Not in use until the server has accepted it.
    EXPECT_TRUE(zm().checkCurrentPwd(kPin));
    ASSERT_TRUE(zm().makeKeyAvailable(*dict));
    EXPECT_FALSE(zm().checkCurrentPwd(kPin));
    EXPECT_TRUE(zm().checkCurrentPwd(newPin));
    EXPECT_EQ(zm().decryptBase64String(before->base64), QStringLiteral("before the change"));
}

TEST_F(KeyMaking, ModifyNeedsACurrentPair)
{
    EXPECT_FALSE(zm().modifyKeyWithPwd(kPin).has_value());
}

TEST_F(KeyMaking, DecryptKeyOpensAnyKeyWithTheRightPinIncludingLeadingZeroBytes)
{
    const QByteArray prefixes[] = {QByteArray(1, '\0'), QByteArray(2, '\0'), QByteArray(32, '\0'),
                                   QByteArray("\x00\xff", 2)};
    for (const QByteArray& prefix : prefixes) {
        SCOPED_TRACE(prefix.toHex().toStdString());
        const TestPair pair = makePair(kPin, prefix);
        ASSERT_EQ(pair.data->key[0], 0);
        zm().resetForTesting();
        ASSERT_TRUE(zm().decryptKey(kPin, pair.keyDict()));
        EXPECT_EQ(zm().currentKeyHash(), pair.keyHash());
        EXPECT_EQ(zm().currentCipherHash(), pair.cipherHash());
        // The installed key is the real one: what it encrypts opens with the raw key.
        const auto sealed = zm().encryptData("secret clip");
        ASSERT_TRUE(sealed.has_value());
        EXPECT_EQ(pair.open(*sealed), QByteArray("secret clip"));
    }
}

TEST_F(KeyMaking, DecryptKeyStoresThePairAndPostsBothNotifications)
{
    NotificationCounter dataChanged(NotificationName::DataChanged);
    NotificationCounter zeroChanged(NotificationName::ZeroChanged);
    const TestPair pair = makePair(kPin);
    ASSERT_TRUE(zm().decryptKey(kPin, QVariant(pair.keyDict())));
    // Posted on the calling (main) thread: already delivered.
    EXPECT_EQ(dataChanged.count(), 1);
    EXPECT_TRUE(testenv::waitUntil([&] { return zeroChanged.count() == 1; }));
    EXPECT_EQ(keychain->passwordData(service(), account()), pair.storedItem());
}

TEST_F(KeyMaking, DecryptKeyRefusesAWrongPinOrAMalformedDictAndChangesNothing)
{
    const TestPair current = makePair(kPin);
    install(current, kPin);
    const QByteArray storedItem = *keychain->passwordData(service(), account());
    const TestPair other = makePair(QStringLiteral("1357"));
    const QVariantMap good = other.keyDict();
    const auto with = [&](const QString& key, const QVariant& value) {
        QVariantMap d = good;
        if (value.isValid())
            d[key] = value;
        else
            d.remove(key);
        return QVariant(d);
    };

    struct Case {
        const char* name;
        QString pin;
        QVariant dict;
    };
    const Case cases[] = {
        {"wrong PIN", QStringLiteral("1357"), QVariant(current.keyDict())},
        {"empty PIN", QString(), QVariant(good)},
        {"not a dictionary", QStringLiteral("1357"), QVariant(QStringLiteral("cipher"))},
        {"no cipher", QStringLiteral("1357"), with("cipher", {})},
        {"cipher of 47 bytes", QStringLiteral("1357"),
         with("cipher", QString::fromLatin1(QByteArray(47, 'a').toBase64()))},
        {"cipher of 49 bytes", QStringLiteral("1357"),
         with("cipher", QString::fromLatin1(QByteArray(49, 'a').toBase64()))},
        {"cipher not Base64", QStringLiteral("1357"), with("cipher", QString(64, '!'))},
        {"key hash of 63 digits", QStringLiteral("1357"), with("key_hash", other.keyHash().left(63))},
        {"cipher hash in upper case", QStringLiteral("1357"), with("cipher_hash", other.cipherHash().toUpper())},
        {"key hash a number", QStringLiteral("1357"), with("key_hash", 12)},
        {"no key timestamp", QStringLiteral("1357"), with("key_timestamp", {})},
        {"cipher timestamp not a number", QStringLiteral("1357"), with("cipher_timestamp", QStringLiteral("soon"))},
        {"key timestamp true", QStringLiteral("1357"), with("key_timestamp", true)},
        {"cipher timestamp a fraction", QStringLiteral("1357"), with("cipher_timestamp", 1700000000.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(zm().decryptKey(c.pin, c.dict));
        EXPECT_EQ(zm().currentKeyHash(), current.keyHash());
        EXPECT_EQ(keychain->passwordData(service(), account()), storedItem);
    }
    // Once the service reports the other key, its record opens.
    EXPECT_FALSE(zm().checkServerCipher(QVariantMap{{"key_hash", other.keyHash()}, {"cipher_hash", other.cipherHash()}}));
    EXPECT_TRUE(zm().decryptKey(QStringLiteral("1357"), QVariant(good)));
}

TEST_F(KeyMaking, TheCurrentPinIsCheckedLocally)
{
    EXPECT_FALSE(zm().checkCurrentPwd(kPin));
    install(makePair(kPin), kPin);
    EXPECT_TRUE(zm().checkCurrentPwd(kPin));
    EXPECT_FALSE(zm().checkCurrentPwd(QStringLiteral("2469")));
    EXPECT_FALSE(zm().checkCurrentPwd(QString()));
}

// --- The server's key check ---------------------------------------------------------------------

class ServerCipherCheck : public KeyTest {};

TEST_F(ServerCipherCheck, AnswersAndDropsAsTheRepliesDemand)
{
    const TestPair pair = makePair(kPin);
    const QString other64 = QString(64, 'e');
    struct Case {
        const char* name;
        QVariant cipher;
        bool answer;
        bool rowsDetached;
    };
    const QString kh = pair.keyHash();
    const QString ch = pair.cipherHash();
    const Case cases[] = {
        {"no object", QVariant(), true, false},
        {"not a dictionary", QVariant(QStringLiteral("cipher")), true, false},
        {"empty dictionary", QVariant(QVariantMap{}), true, false},
        {"only the key hash", QVariant(QVariantMap{{"key_hash", other64}}), true, false},
        {"only the cipher hash", QVariant(QVariantMap{{"cipher_hash", other64}}), true, false},
        {"equal hashes", QVariant(QVariantMap{{"key_hash", kh}, {"cipher_hash", ch}}), true, false},
        {"garbled key hash", QVariant(QVariantMap{{"key_hash", QStringLiteral("xyz")}, {"cipher_hash", ch}}), true,
         false},
        {"hash of 65 digits", QVariant(QVariantMap{{"key_hash", kh + "0"}, {"cipher_hash", ch}}), true, false},
        {"null hashes", QVariant(QVariantMap{{"key_hash", QVariant()}, {"cipher_hash", QVariant()}}), true, false},
        {"another cipher hash", QVariant(QVariantMap{{"key_hash", kh}, {"cipher_hash", other64}}), false, false},
        {"another key hash", QVariant(QVariantMap{{"key_hash", other64}, {"cipher_hash", ch}}), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DBFetcher::resetSharedInstance();
        QFile::remove(dbPath());
        zm().resetForTesting();
        install(pair, kPin);
        // A clip under the current key and one under the other key, both on the server.
        savedClip(1);
        savedClip(2);
        {
            RawDb raw(dbPath());
            ASSERT_TRUE(raw.exec(QStringLiteral("update History set history_id = 10, local_file_ok = 1, key_hash = ?"
                                                " where file_hash = ?"),
                                 {kh, hashOf(1)}));
            ASSERT_TRUE(raw.exec(QStringLiteral("update History set history_id = 11, local_file_ok = 1, key_hash = ?"
                                                " where file_hash = ?"),
                                 {other64, hashOf(2)}));
        }
        NotificationCounter zeroChanged(NotificationName::ZeroChanged);

        EXPECT_EQ(zm().checkServerCipher(c.cipher), c.answer);
        EXPECT_EQ(zm().state(), c.answer ? 1 : 0);
        EXPECT_EQ(keychain->contains(service(), account()), c.answer);

        RawDb raw(dbPath());
        // Rows under the server's key stay; rows of the dropped key are detached only for a new key.
        EXPECT_EQ(raw.scalar("select history_id from History where file_hash = ?", {hashOf(1)}).toInt(),
                  c.rowsDetached ? 0 : 10);
        EXPECT_EQ(raw.scalar("select history_id from History where file_hash = ?", {hashOf(2)}).toInt(), 11);
        if (!c.answer) {
            EXPECT_TRUE(testenv::waitUntil([&] { return zeroChanged.count() == 1; }));
        }
        drainMainQueue();
        EXPECT_EQ(zeroChanged.count(), c.answer ? 0 : 1);
    }
}

TEST_F(ServerCipherCheck, WithoutACurrentPairAnythingPasses)
{
    EXPECT_TRUE(zm().checkServerCipher(QVariantMap{{"key_hash", QString(64, 'a')}, {"cipher_hash", QString(64, 'b')}}));
}

TEST_F(ServerCipherCheck, AcceptsTheReplyObjectAsJson)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    QJsonObject cipher{{"key_hash", QString(64, 'a')}, {"cipher_hash", pair.cipherHash()}};
    EXPECT_FALSE(zm().checkServerCipher(QVariant(cipher)));
}

// --- Encryption with the current key ------------------------------------------------------------

class KeyEncryption : public KeyTest {};

TEST_F(KeyEncryption, NothingWithoutACurrentPair)
{
    const QString file = testenv::home() + "/plain";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("body");
    f.close();
    EXPECT_FALSE(zm().encryptData("x").has_value());
    EXPECT_FALSE(zm().decryptData(QByteArray(60, 'x')).has_value());
    EXPECT_FALSE(zm().encryptDataToBase64String(QStringLiteral("x")).has_value());
    EXPECT_FALSE(zm().decryptBase64String(QStringLiteral("AAAA")).has_value());
    EXPECT_FALSE(zm().encryptFileFrom(file, file + ".enc").has_value());
    EXPECT_FALSE(zm().decryptFileFrom(file, file + ".dec"));
}

TEST_F(KeyEncryption, TextRoundTripsAndCarriesTheHashOfTheKeyThatEncryptedIt)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    for (const QString& text : {QStringLiteral("密码 password 🔑"), QString(), QString(5000, QChar(u'x'))}) {
        const auto encrypted = zm().encryptDataToBase64String(text);
        ASSERT_TRUE(encrypted.has_value());
        EXPECT_EQ(encrypted->keyHash, pair.keyHash());
        EXPECT_EQ(pair.open(QByteArray::fromBase64(encrypted->base64.toLatin1())), text.toUtf8());
        EXPECT_EQ(zm().decryptBase64String(encrypted->base64), text);
    }
}

TEST_F(KeyEncryption, DecryptingWhatCannotBeOpenedGivesNoneNeverAnEmptyText)
{
    const TestPair other = makePair(kPin);
    install(other, kPin);
    const auto underOther = zm().encryptDataToBase64String(QStringLiteral("clip of another key"));
    const auto notUtf8 = zm().encryptData(QByteArray("\xff\xfe\xfd", 3));
    ASSERT_TRUE(underOther && notUtf8);
    zm().resetForTesting();
    install(makePair(kPin), kPin);
    const auto mine = zm().encryptData(QByteArray("\xff\xfe\xfd", 3));
    ASSERT_TRUE(mine.has_value());

    EXPECT_FALSE(zm().decryptBase64String(underOther->base64).has_value());
    EXPECT_FALSE(zm().decryptBase64String(QStringLiteral("not base64 at all!")).has_value());
    EXPECT_FALSE(zm().decryptBase64String(QString::fromLatin1(QByteArray(40, 'a').toBase64())).has_value());
    EXPECT_FALSE(zm().decryptBase64String(QString::fromLatin1(mine->toBase64())).has_value());
    EXPECT_EQ(zm().decryptData(*mine), QByteArray("\xff\xfe\xfd", 3));
}

TEST_F(KeyEncryption, FilesRoundTripUnderTheKeyWhoseHashIsReturned)
{
    const TestPair pair = makePair(kPin);
    install(pair, kPin);
    const QString plain = testenv::home() + "/plain.bin";
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray body(4097, 'q');
    f.write(body);
    f.close();

    const auto hash = zm().encryptFileFrom(plain, plain + ".enc");
    ASSERT_TRUE(hash.has_value());
    EXPECT_EQ(*hash, pair.keyHash());
    EXPECT_EQ(QFileInfo(plain + ".enc").size(), 4155);
    EXPECT_TRUE(zm().decryptFileFrom(plain + ".enc", plain + ".dec"));
    QFile d(plain + ".dec");
    ASSERT_TRUE(d.open(QIODevice::ReadOnly));
    EXPECT_EQ(d.readAll(), body);

    EXPECT_FALSE(zm().encryptFileFrom(QString(), plain + ".x").has_value());
    EXPECT_FALSE(zm().encryptFileFrom(plain, QString()).has_value());
    EXPECT_FALSE(zm().encryptFileFrom(plain + ".missing", plain + ".x").has_value());
    EXPECT_FALSE(zm().decryptFileFrom(plain, plain + ".x"));
}

// --- PIN hashes and sealing ------------------------------------------------------------------------

TEST(KeyHashes, PinHashAndVerifierAreFixedAndUnrelated)
{
    const QString pin = QStringLiteral("2468");
    unsigned char h[32];
    crypto_generichash(h, 32, reinterpret_cast<const unsigned char*>("2468"), 4, nullptr, 0);
    const QByteArray wrapKey(reinterpret_cast<const char*>(h), 32);
    EXPECT_EQ(ZeroManager::hashPwd(pin), wrapKey);
    EXPECT_EQ(ZeroManager::hashPwdWithBase64(pin), QString::fromLatin1(wrapKey.toBase64()));
    EXPECT_EQ(ZeroManager::hashPwdWithBase64(pin).size(), 44);

    unsigned char v[32];
    crypto_generichash(v, 32, reinterpret_cast<const unsigned char*>("pin-verifier"), 12, h, 32);
    const QString verifier = ZeroManager::pinVerifierWithBase64(pin);
    EXPECT_EQ(verifier, QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(v), 32).toBase64()));
    EXPECT_EQ(verifier.size(), 44);
    EXPECT_EQ(ZeroManager::pinVerifierWithBase64(pin), verifier);
    EXPECT_NE(verifier, ZeroManager::hashPwdWithBase64(pin));
    EXPECT_NE(ZeroManager::pinVerifierWithBase64(QStringLiteral("2469")), verifier);
}

TEST(KeySealing, SealsOnlyToAThirtyTwoBytePublicKey)
{
    unsigned char pk[crypto_box_PUBLICKEYBYTES];
    unsigned char sk[crypto_box_SECRETKEYBYTES];
    crypto_box_keypair(pk, sk);
    const QByteArray publicKey(reinterpret_cast<const char*>(pk), sizeof pk);
    const QByteArray message(32, 'm');

    const auto sealed = ZeroManager::sharedInstance().encryptDataWithSealedPublicKey(message, publicKey);
    ASSERT_TRUE(sealed.has_value());
    ASSERT_EQ(sealed->size(), 80);
    unsigned char opened[32];
    ASSERT_EQ(crypto_box_seal_open(opened, reinterpret_cast<const unsigned char*>(sealed->constData()),
                                   size_t(sealed->size()), pk, sk),
              0);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(opened), 32), message);
    EXPECT_NE(ZeroManager::sharedInstance().encryptDataWithSealedPublicKey(message, publicKey), sealed);

    for (const QByteArray& bad : {QByteArray(), publicKey.left(31), publicKey + 'x'})
        EXPECT_FALSE(ZeroManager::sharedInstance().encryptDataWithSealedPublicKey(message, bad).has_value())
            << bad.size();
}
