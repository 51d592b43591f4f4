#pragma once

// What the key manager's files share: record field names, the wrap versions, the pair and the
// Argon2id step. Only src/service/zero*.cpp include it.

#include "service/zeromanager.h"

#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/defaultskeys.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "platform/notificationcenter.h"

#include <QJsonObject>

#include <sodium.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

namespace zeroparts {


const QString kKeyData = QStringLiteral("keyData");
const QString kCipherData = QStringLiteral("cipherData");
const QString kKeyTimestamp = QStringLiteral("key_timestamp");
const QString kKeyHash = QStringLiteral("key_hash");
const QString kCipher = QStringLiteral("cipher");
const QString kCipherTimestamp = QStringLiteral("cipher_timestamp");
const QString kCipherHash = QStringLiteral("cipher_hash");
const QString kVersion = QStringLiteral("version");
const QString kPlatform = QStringLiteral("platform");
constexpr size_t kHashHexDigits = CE_HASH_HEX_BYTES - 1;
// The form isValidKeyHash checks.
static_assert(kHashHexDigits == 64);
constexpr int kOlderWrap = 1;
constexpr int kCurrentWrap = 2;

inline std::atomic<unsigned long long> g_wrapOpsLimit{crypto_pwhash_OPSLIMIT_MODERATE};
inline std::atomic<size_t> g_wrapMemLimit{crypto_pwhash_MEMLIMIT_MODERATE};

// The secret of a current-way wrap, wiped when it goes.
struct PinSecret {
    unsigned char bytes[CE_PIN_SECRET_BYTES] = {};
    ~PinSecret() { sodium_memzero(bytes, sizeof bytes); }
};
// A keychain that did not answer is asked again after this long, not on every state query.
constexpr int kRetryAfterFailureMs = 30000;

struct DataDeleter {
    void operator()(ce_data* data) const { ce_free_data(data); }
};
struct CipherDeleter {
    void operator()(ce_cipher_data* data) const { ce_free_cipher_data(data); }
};
using DataPtr = std::unique_ptr<ce_data, DataDeleter>;
using CipherPtr = std::unique_ptr<ce_cipher_data, CipherDeleter>;

// 64 lower-case hex digits and the terminating zero, as the records hold them.
inline bool isHexHashField(const char field[CE_HASH_HEX_BYTES])
{
    if (field[kHashHexDigits] != '\0')
        return false;
    return isValidKeyHash(QString::fromLatin1(field, qsizetype(kHashHexDigits)));
}

inline QString hashText(const char field[CE_HASH_HEX_BYTES])
{
    return QString::fromLatin1(field, qsizetype(kHashHexDigits));
}

// A copy of the key record for a new wrap; null when it cannot be made.
inline ce_data* copyOfKeyData(const ce_data& key)
{
    ce_data* data = ce_alloc_data();
    if (data)
        std::memcpy(data, &key, sizeof(ce_data));
    return data;
}

inline void copyHash(const QString& hash, char field[CE_HASH_HEX_BYTES])
{
    std::memset(field, 0, CE_HASH_HEX_BYTES);
    std::memcpy(field, hash.toLatin1().constData(), kHashHexDigits);
}

inline std::optional<QVariantMap> asMap(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.constBegin(); it != hash.constEnd(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    if (value.typeId() == QMetaType::QJsonObject)
        return value.toJsonObject().toVariantMap();
    return std::nullopt;
}

inline std::optional<QString> stringValue(const QVariantMap& map, const QString& key)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

inline std::optional<QByteArray> strictBase64(const QString& text)
{
    // Non-Latin-1 characters become '?', which is no Base64 digit, so they abort too.
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

inline QByteArray pinBytes(const QString& pwd)
{
    return pwd.toUtf8();
}

// The logged-in user's id, or none when nobody is logged in.
inline std::optional<QString> loggedInUser()
{
    // One snapshot: the token of one login is never paired with the id of another.
    const auto login = ConfigureManager::sharedInstance().currentLogin();
    if (!login || !login->userId || login->userId->isEmpty())
        return std::nullopt;
    return login->userId;
}

inline void postZeroChanged()
{
    NotificationCenter::defaultCenter().postOnMain(NotificationName::ZeroChanged);
}

// Argon2id of the PIN under the salt of the account: the one costly step of every guess.
inline bool derivePinSecret(const QString& pwd, const QString& userId, PinSecret& secret)
{
    const QByteArray account = userId.toUtf8();
    unsigned char salt[CE_SALT_BYTES];
    if (!ce_account_salt(reinterpret_cast<const unsigned char*>(account.constData()), size_t(account.size()), salt))
        return false;
    QByteArray pin = pinBytes(pwd);
    const int rc = ce_derive_pin_secret(reinterpret_cast<const unsigned char*>(pin.constData()), size_t(pin.size()),
                                        salt, g_wrapOpsLimit.load(), g_wrapMemLimit.load(), secret.bytes);
    sodium_memzero(pin.data(), size_t(pin.size()));
    return rc == 0;
}

inline QString verifierOf(const PinSecret& secret)
{
    unsigned char verifier[CE_VERIFIER_BYTES];
    if (!ce_pin_verifier_v2(secret.bytes, verifier))
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(verifier), sizeof verifier).toBase64());
}

// "1.0" (or no version at all: the older records carry nothing else) and "2.0"; none for
// anything this build cannot open.
inline std::optional<int> wrapVersionOf(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return kOlderWrap;
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    if (value.toString() == ZeroManager::olderWrapVersion())
        return kOlderWrap;
    if (value.toString() == ZeroManager::currentWrapVersion())
        return kCurrentWrap;
    return std::nullopt;
}

inline const QString& wrapVersionText(int version)
{
    return version == kCurrentWrap ? ZeroManager::currentWrapVersion() : ZeroManager::olderWrapVersion();
}



inline void rememberCurrentWrap(const QString& userId)
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    QStringList seen = defaults.stringList(DefaultsKey::CurrentWrapUserIds);
    if (seen.contains(userId))
        return;
    seen << userId;
    defaults.setValue(DefaultsKey::CurrentWrapUserIds, seen);
}

inline bool sameHashField(const char a[CE_HASH_HEX_BYTES], const char b[CE_HASH_HEX_BYTES])
{
    return sodium_memcmp(a, b, CE_HASH_HEX_BYTES) == 0;
}


}  // namespace zeroparts

using namespace zeroparts;

// One immutable key pair and the user it belongs to. Released (and wiped) when the last
// reader lets go of it.
struct ZeroManager::Pair {
    QString userId;
    DataPtr data;
    CipherPtr cipher;
    int version = kOlderWrap;

    QString keyHash() const { return hashText(data->key_hash); }
    QString cipherHash() const { return hashText(cipher->cipher_hash); }
};
