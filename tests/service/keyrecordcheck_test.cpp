// A key record from the service is taken only as the record of this account's own key: its
// hashes must be the key's, and an account seen here at the current wrap gets no older one.

#include "keyfixture.h"

#include "service/zeromanager.h"

#include <gtest/gtest.h>

using namespace keytest;

namespace {

const QString kPin = QStringLiteral("493817");
const QString kShortPin = QStringLiteral("2468");

class KeyRecordCheck : public KeyTest {
protected:
    // Nothing of the refused record is in use or stored.
    void expectNothingInstalled(const TestPair& offered)
    {
        EXPECT_NE(zm().currentKeyHash(), offered.keyHash());
        const auto item = keychain->passwordData(ZeroManager::keychainService(), ZeroManager::storeKey(QStringLiteral("42")));
        const auto dict = ZeroManager::dictionaryWithPlistData(item);
        EXPECT_NE(dict ? dict->value(QStringLiteral("keyData")).toByteArray() : QByteArray(), offered.keyData());
    }
};

QString otherHash(const QString& hash)
{
    QString changed = hash;
    changed[0] = changed[0] == u'0' ? u'1' : u'0';
    return changed;
}

}  // namespace

TEST_F(KeyRecordCheck, ARecordWhoseHashesAreNotItsKeysOwnIsRefused)
{
    const TestPair accounts = makePair(kPin);
    const TestPair services = makePair(kPin, QByteArrayLiteral("chosen by the service"));
    struct Case {
        const char* name;
        QVariantMap dict;
        KeyRefusal why;
    };
    QVariantMap underAccountsHash = services.keyDict();
    underAccountsHash.insert(QStringLiteral("key_hash"), accounts.keyHash());
    QVariantMap changedCipherHash = accounts.keyDict();
    changedCipherHash.insert(QStringLiteral("cipher_hash"), otherHash(accounts.cipherHash()));
    const std::vector<Case> cases = {
        {"another key under the account's key_hash", underAccountsHash, KeyRefusal::KeyMismatch},
        {"a changed cipher_hash", changedCipherHash, KeyRefusal::KeyMismatch},
        {"a wrong PIN", accounts.keyDict(), KeyRefusal::WrongPin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyRefusal why = KeyRefusal::None;
        const QString pin = c.why == KeyRefusal::WrongPin ? QStringLiteral("000000") : kPin;
        EXPECT_FALSE(zm().decryptKey(pin, c.dict, &why));
        EXPECT_EQ(why, c.why);
        EXPECT_FALSE(zm().currentKeyHash().has_value());
        EXPECT_EQ(zm().state(), 0);
        expectNothingInstalled(services);
    }
    KeyRefusal why = KeyRefusal::Malformed;
    ASSERT_TRUE(zm().decryptKey(kPin, accounts.keyDict(), &why));
    EXPECT_EQ(why, KeyRefusal::None);
    EXPECT_EQ(zm().currentKeyHash(), accounts.keyHash());
}

// A record that is sound in itself but not of the key this device knows for the account (the
// current pair's, else the one the service last reported) is refused, and nothing of it stays.
TEST_F(KeyRecordCheck, ARecordOfAnotherKeyThanTheKnownOneIsRefused)
{
    const TestPair accounts = makePair(kPin);
    const TestPair stale = makePair(kPin, QByteArrayLiteral("an earlier key"));
    const QVariantMap reported{{"key_hash", accounts.keyHash()}, {"cipher_hash", accounts.cipherHash()}};
    struct Case {
        const char* name;
        bool installed;  // else only reported by the service
    };
    for (const Case& c : {Case{"the current pair", true}, Case{"the service's report", false}}) {
        SCOPED_TRACE(c.name);
        zm().resetForTesting();
        keychain->deletePassword(ZeroManager::keychainService(), ZeroManager::storeKey(QStringLiteral("42")));
        if (c.installed)
            install(accounts, kPin);
        else
            ASSERT_TRUE(zm().checkServerCipher(reported));
        KeyRefusal why = KeyRefusal::None;
        EXPECT_FALSE(zm().decryptKey(kPin, stale.keyDict(), &why));
        EXPECT_EQ(why, KeyRefusal::NotKnownKey);
        EXPECT_EQ(zm().state(), c.installed ? 1 : 0);
        expectNothingInstalled(stale);
        // The record of the known key opens (again).
        ASSERT_TRUE(zm().decryptKey(kPin, accounts.keyDict(), &why));
        EXPECT_EQ(zm().currentKeyHash(), accounts.keyHash());
    }

    // What the service reported is forgotten at logout: the next login knows nothing yet.
    zm().resetForTesting();
    ASSERT_TRUE(zm().checkServerCipher(reported));
    logout();
    drainMainQueue();
    loginAs(QStringLiteral("42"));
    drainMainQueue();
    EXPECT_TRUE(zm().decryptKey(kPin, stale.keyDict()));
    EXPECT_EQ(zm().currentKeyHash(), stale.keyHash());
}

// Once this device held the account's "2.0" record, a "1.0" one (which the service can make
// for a key of its choosing) is refused, also after a restart, for that user id only.
TEST_F(KeyRecordCheck, AnOlderRecordIsRefusedForAnAccountSeenAtTheCurrentWrap)
{
    const auto current = zm().generateKey(kPin);
    ASSERT_TRUE(current);
    ASSERT_TRUE(zm().makeKeyAvailable(*current));
    drainMainQueue();
    EXPECT_TRUE(ZeroManager::hasSeenCurrentWrap(QStringLiteral("42")));
    const QString accountsKey = current->value(QStringLiteral("key_hash")).toString();

    zm().resetForTesting();
    const TestPair served = makePair(kPin, QByteArrayLiteral("the service's own key"));
    KeyRefusal why = KeyRefusal::None;
    EXPECT_FALSE(zm().decryptKey(kPin, served.keyDict(), &why));
    EXPECT_EQ(why, KeyRefusal::Downgrade);
    expectNothingInstalled(served);

    // The account's own current record still opens.
    ASSERT_TRUE(zm().decryptKey(kPin, *current, &why));
    EXPECT_EQ(zm().currentKeyHash(), accountsKey);

    // Another account of this device was never seen at "2.0": its older record opens.
    loginAs(QStringLiteral("43"));
    drainMainQueue();
    const TestPair others = makePair(kPin);
    EXPECT_TRUE(zm().decryptKey(kPin, others.keyDict(), &why));
    EXPECT_EQ(zm().currentKeyHash(), others.keyHash());
}

// An older record's PIN is wrapped again as "2.0" only when it meets today's rule.
TEST_F(KeyRecordCheck, AnOlderRecordIsWrappedAgainOnlyUnderAPinOfToday)
{
    struct Case {
        QString pin;
        bool rewrapped;
    };
    for (const Case& c : {Case{kShortPin, false}, Case{kPin, true}}) {
        SCOPED_TRACE(c.pin.toStdString());
        zm().resetForTesting();
        install(makePair(c.pin), c.pin);
        EXPECT_EQ(zm().rewrapOlderKey(c.pin).has_value(), c.rewrapped);
        EXPECT_EQ(zm().currentWrapVersionInUse(), ZeroManager::olderWrapVersion());
    }
}
