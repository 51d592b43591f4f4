#pragma once

// Shared pieces of the key manager tests: a fixture with a fresh database, an in-memory
// keychain and a logged-in user, and key pairs made from known raw keys so a test can check
// which key really encrypted something.

#include "store/historytestsupport.h"

#include "platform/fake/keychainfake.h"
#include "platform/notificationcenter.h"
#include "service/sodiumglue.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"

#include <QCoreApplication>

#include <sodium.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace keytest {

inline ZeroManager& zm()
{
    return ZeroManager::sharedInstance();
}

// Delivers what earlier steps queued to the main thread, so no notification of one test
// reaches the next.
inline void drainMainQueue()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Logs the user in without the network: id first, so the token's login is already this user's.
inline void loginAs(const QString& userId)
{
    ConfigureManager& config = ConfigureManager::sharedInstance();
    config.setLoginUserId(userId);
    config.setLoginUserToken(QStringLiteral("token-") + userId);
}

inline void logout()
{
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
}

struct DataDeleter {
    void operator()(ce_data* p) const { ce_free_data(p); }
    void operator()(ce_cipher_data* p) const { ce_free_cipher_data(p); }
};
using DataPtr = std::unique_ptr<ce_data, DataDeleter>;
using CipherPtr = std::unique_ptr<ce_cipher_data, DataDeleter>;

// A key pair made in the test, so its raw key is known.
struct TestPair {
    DataPtr data;
    CipherPtr cipher;

    QString keyHash() const { return QString::fromLatin1(data->key_hash, 64); }
    QString cipherHash() const { return QString::fromLatin1(cipher->cipher_hash, 64); }
    QVariantMap keyDict() const { return ZeroManager::dictFromCEData(*data, *cipher); }
    QByteArray keyData() const { return QByteArray(reinterpret_cast<const char*>(data.get()), sizeof(ce_data)); }
    QByteArray cipherData() const
    {
        return QByteArray(reinterpret_cast<const char*>(cipher.get()), sizeof(ce_cipher_data));
    }
    // The keychain item's bytes for this pair, as an older build stored them (no "version").
    QByteArray item() const
    {
        return ZeroManager::plistDataDict({{QStringLiteral("keyData"), keyData()},
                                           {QStringLiteral("cipherData"), cipherData()}});
    }
    // The item as the key manager stores this pair (wrapped the older way) now.
    QByteArray storedItem() const
    {
        return ZeroManager::plistDataDict({{QStringLiteral("keyData"), keyData()},
                                           {QStringLiteral("cipherData"), cipherData()},
                                           {QStringLiteral("version"), QStringLiteral("1.0")}});
    }
    // Opens a buffer the manager encrypted, with this pair's raw key.
    std::optional<QByteArray> open(const QByteArray& encrypted) const
    {
        unsigned char* out = nullptr;
        size_t outLen = 0;
        if (ce_decrypt_buffer(reinterpret_cast<const unsigned char*>(encrypted.constData()), size_t(encrypted.size()),
                              &out, &outLen, data->key)
            != 0)
            return std::nullopt;
        QByteArray plain(reinterpret_cast<const char*>(out), qsizetype(outLen));
        free(out);
        return plain;
    }
};

// A pair wrapped under the PIN; a key of the given first bytes when asked for.
inline TestPair makePair(const QString& pin, const QByteArray& keyPrefix = {}, qint64 timestamp = 0)
{
    TestPair pair;
    pair.data.reset(ce_new_data());
    if (!keyPrefix.isEmpty() || timestamp != 0) {
        std::memcpy(pair.data->key, keyPrefix.constData(), size_t(keyPrefix.size()));
        if (timestamp != 0)
            pair.data->key_timestamp = timestamp;
        ce_compute_key_hash(pair.data.get(), pair.data->key_hash);
    }
    const QByteArray p = pin.toUtf8();
    pair.cipher.reset(ce_new_cipher_data(reinterpret_cast<const unsigned char*>(p.constData()), size_t(p.size()),
                                         pair.data.get()));
    return pair;
}

inline const QString& service()
{
    return ZeroManager::keychainService();
}

// Counts a notification on the main thread.
class NotificationCounter {
public:
    explicit NotificationCounter(const QString& name)
    {
        m_token = NotificationCenter::defaultCenter().addObserver(name, nullptr,
                                                                  [this](const Notification&) { ++m_count; });
    }
    ~NotificationCounter() { NotificationCenter::defaultCenter().removeObserver(m_token); }
    int count() const { return m_count; }

private:
    NotificationCenter::Token m_token = 0;
    std::atomic<int> m_count{0};
};

// A fresh database, an in-memory keychain and user "42" logged in with no key.
class KeyTest : public historytest::HistoryDbTest {
protected:
    void SetUp() override
    {
        HistoryDbTest::SetUp();
        drainMainQueue();
        keychain = std::make_shared<KeychainFake>();
        Keychain::setCurrent(keychain);
        loginAs(QStringLiteral("42"));
        drainMainQueue();
        zm().resetForTesting();
    }
    void TearDown() override
    {
        drainMainQueue();
        zm().resetForTesting();
        ce_set_unavailable_for_testing(false);
        HistoryDbTest::TearDown();
    }

    // Installs a pair the test knows, the way a PIN entry does.
    void install(const TestPair& pair, const QString& pin)
    {
        ASSERT_TRUE(zm().decryptKey(pin, pair.keyDict()));
        drainMainQueue();
    }

    std::shared_ptr<KeychainFake> keychain;
};

}  // namespace keytest
