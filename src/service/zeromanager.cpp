#include "service/zeromanager.h"

#include "platform/keychain.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/propertylist.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/notificationnames.h"

#include <QFile>
#include <QJsonObject>
#include <QStringDecoder>

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

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

std::atomic<unsigned long long> g_wrapOpsLimit{crypto_pwhash_OPSLIMIT_MODERATE};
std::atomic<size_t> g_wrapMemLimit{crypto_pwhash_MEMLIMIT_MODERATE};

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
bool isHexHashField(const char field[CE_HASH_HEX_BYTES])
{
    if (field[kHashHexDigits] != '\0')
        return false;
    return isValidKeyHash(QString::fromLatin1(field, qsizetype(kHashHexDigits)));
}

QString hashText(const char field[CE_HASH_HEX_BYTES])
{
    return QString::fromLatin1(field, qsizetype(kHashHexDigits));
}

// A copy of the key record for a new wrap; null when it cannot be made.
ce_data* copyOfKeyData(const ce_data& key)
{
    ce_data* data = ce_alloc_data();
    if (data)
        std::memcpy(data, &key, sizeof(ce_data));
    return data;
}

void copyHash(const QString& hash, char field[CE_HASH_HEX_BYTES])
{
    std::memset(field, 0, CE_HASH_HEX_BYTES);
    std::memcpy(field, hash.toLatin1().constData(), kHashHexDigits);
}

std::optional<QVariantMap> asMap(const QVariant& value)
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

std::optional<QString> stringValue(const QVariantMap& map, const QString& key)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

std::optional<QByteArray> strictBase64(const QString& text)
{
    // Non-Latin-1 characters become '?', which is no Base64 digit, so they abort too.
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

QByteArray pinBytes(const QString& pwd)
{
    return pwd.toUtf8();
}

// The logged-in user's id, or none when nobody is logged in.
std::optional<QString> loggedInUser()
{
    // One snapshot: the token of one login is never paired with the id of another.
    const auto login = ConfigureManager::sharedInstance().currentLogin();
    if (!login || !login->userId || login->userId->isEmpty())
        return std::nullopt;
    return login->userId;
}

void postZeroChanged()
{
    NotificationCenter::defaultCenter().postOnMain(NotificationName::ZeroChanged);
}

// Argon2id of the PIN under the salt of the account: the one costly step of every guess.
bool derivePinSecret(const QString& pwd, const QString& userId, PinSecret& secret)
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

QString verifierOf(const PinSecret& secret)
{
    unsigned char verifier[CE_VERIFIER_BYTES];
    if (!ce_pin_verifier_v2(secret.bytes, verifier))
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(verifier), sizeof verifier).toBase64());
}

// "1.0" (or no version at all: the older records carry nothing else) and "2.0"; none for
// anything this build cannot open.
std::optional<int> wrapVersionOf(const QVariant& value)
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

const QString& wrapVersionText(int version)
{
    return version == kCurrentWrap ? ZeroManager::currentWrapVersion() : ZeroManager::olderWrapVersion();
}

}  // namespace

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

std::shared_ptr<ZeroManager::Pair> ZeroManager::newPair(const QString& userId, ce_data* data,
                                                       ce_cipher_data* cipher, int version)
{
    DataPtr d(data);
    CipherPtr c(cipher);
    if (!d || !c)
        return {};
    auto pair = std::make_shared<ZeroManager::Pair>();
    pair->userId = userId;
    pair->data = std::move(d);
    pair->cipher = std::move(c);
    pair->version = version;
    return pair;
}

std::shared_ptr<ZeroManager::Pair> ZeroManager::newCurrentWrap(const QString& userId, const QString& pwd,
                                                              ce_data* data, QString* pwdVerifier)
{
    DataPtr owned(data);
    PinSecret secret;
    if (!owned || !derivePinSecret(pwd, userId, secret))
        return {};
    ce_cipher_data* cipher = ce_new_cipher_data_v2(secret.bytes, owned.get());
    const QString verifier = verifierOf(secret);
    if (!cipher || verifier.isEmpty()) {
        ce_free_cipher_data(cipher);
        return {};
    }
    if (pwdVerifier)
        *pwdVerifier = verifier;
    return newPair(userId, owned.release(), cipher, kCurrentWrap);
}

namespace {
std::atomic<ZeroManager*> g_made{nullptr};
}

ZeroManager& ZeroManager::sharedInstance()
{
    static ZeroManager instance;
    g_made.store(&instance);
    return instance;
}

void ZeroManager::resetSharedInstanceIfMadeForTesting()
{
    if (ZeroManager* made = g_made.load())
        made->resetForTesting();
}

ZeroManager::ZeroManager()
{
    ce_init();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    // Whatever logged the user out (the user pane, an expired token, a rejected transfer),
    // nothing of this account's key may survive into the next login.
    center.addObserver(NotificationName::UserLogouted, nullptr, [this](const Notification&) { emptyAllSlots(); });
    center.addObserver(NotificationName::UserLogined, nullptr, [this](const Notification&) {
        QMutexLocker lock(&m_mutex);
        m_missingFor.reset();
    });
    readKeyInfo();
}

// --- The keychain item ------------------------------------------------------------------------

const QString& ZeroManager::keychainService()
{
    static const QString service = QStringLiteral("encrypt.clipboard.manager");
    return service;
}

QString ZeroManager::storeKey(const QString& userId)
{
    return QStringLiteral("user_%1_key").arg(userId);
}

std::optional<QVariantMap> ZeroManager::dictionaryWithPlistData(const std::optional<QByteArray>& data)
{
    if (!data)
        return std::nullopt;
    return PropertyList::dictionaryFromBinary(*data);
}

QByteArray ZeroManager::plistDataDict(const QVariantMap& dict)
{
    return PropertyList::binaryFromDictionary(dict);
}

std::optional<QByteArray> ZeroManager::passwordDataForService(const QString& service, const QString& account,
                                                              QString* error)
{
    return Keychain::current().passwordData(service, account, error);
}

bool ZeroManager::setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                                  QString* error)
{
    return Keychain::current().setPasswordData(data, service, account, error);
}

bool ZeroManager::deletePasswordForService(const QString& service, const QString& account, QString* error)
{
    return Keychain::current().deletePassword(service, account, error);
}

// --- Key state --------------------------------------------------------------------------------

int ZeroManager::state()
{
    if (!ce_is_available() || !loggedInUser())
        return 0;
    if (!usablePair())
        readKeyInfo();
    return usablePair() ? 1 : 0;
}

void ZeroManager::readKeyInfo()
{
    const auto user = loggedInUser();
    if (!user)
        return;
    QMutexLocker keychainLock(&m_keychainMutex);
    {
        QMutexLocker lock(&m_mutex);
        if (m_current && m_current->userId == *user)
            return;
        // Another account's key is never used for this one.
        m_current.reset();
        if (m_pending && m_pending->userId != *user)
            m_pending.reset();
        if (m_missingFor == *user && !m_retry.has_value())
            return;
        if (m_missingFor == *user && m_retry && !m_retry->hasExpired())
            return;
    }

    QString error;
    const auto item = passwordDataForService(keychainService(), storeKey(*user), &error);
    PairPtr pair;
    if (const auto dict = dictionaryWithPlistData(item)) {
        const QVariant keyData = dict->value(kKeyData);
        const QVariant cipherData = dict->value(kCipherData);
        const auto version = wrapVersionOf(dict->value(kVersion));
        // Anything but the exact record sizes with well-formed hashes counts as no item.
        if (version && keyData.typeId() == QMetaType::QByteArray && cipherData.typeId() == QMetaType::QByteArray
            && keyData.toByteArray().size() == qsizetype(sizeof(ce_data))
            && cipherData.toByteArray().size() == qsizetype(sizeof(ce_cipher_data))) {
            ce_data* data = ce_alloc_data();
            ce_cipher_data* cipher = ce_alloc_cipher_data();
            if (data)
                std::memcpy(data, keyData.toByteArray().constData(), sizeof(ce_data));
            if (cipher)
                std::memcpy(cipher, cipherData.toByteArray().constData(), sizeof(ce_cipher_data));
            auto made = newPair(*user, data, cipher, *version);
            if (made && isHexHashField(made->data->key_hash) && isHexHashField(made->cipher->cipher_hash)) {
                std::memset(made->data->filler, 0, sizeof made->data->filler);
                std::memset(made->cipher->filler, 0, sizeof made->cipher->filler);
                pair = std::move(made);
            }
        }
    }

    QMutexLocker lock(&m_mutex);
    if (!pair) {
        m_missingFor = *user;
        if (error.isEmpty())
            m_retry.reset();
        else
            m_retry = QDeadlineTimer(kRetryAfterFailureMs);
        return;
    }
    if (!m_current || m_current->userId != *user)
        m_current = std::move(pair);
}

namespace {

void rememberCurrentWrap(const QString& userId)
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    QStringList seen = defaults.stringList(DefaultsKey::CurrentWrapUserIds);
    if (seen.contains(userId))
        return;
    seen << userId;
    defaults.setValue(DefaultsKey::CurrentWrapUserIds, seen);
}

bool sameHashField(const char a[CE_HASH_HEX_BYTES], const char b[CE_HASH_HEX_BYTES])
{
    return sodium_memcmp(a, b, CE_HASH_HEX_BYTES) == 0;
}

}  // namespace

void ZeroManager::updateKeyInfo()
{
    {
        QMutexLocker keychainLock(&m_keychainMutex);
        if (const PairPtr pair = usablePair()) {
            QVariantMap item;
            item.insert(kKeyData, QByteArray(reinterpret_cast<const char*>(pair->data.get()), sizeof(ce_data)));
            item.insert(kCipherData,
                        QByteArray(reinterpret_cast<const char*>(pair->cipher.get()), sizeof(ce_cipher_data)));
            item.insert(kVersion, wrapVersionText(pair->version));
            QByteArray plist = plistDataDict(item);
            setPasswordData(plist, keychainService(), storeKey(pair->userId));
            if (pair->version == kCurrentWrap)
                rememberCurrentWrap(pair->userId);
            sodium_memzero(plist.data(), size_t(plist.size()));
            for (auto& value : item) {
                if (value.typeId() != QMetaType::QByteArray)
                    continue;
                QByteArray bytes = value.toByteArray();
                value.clear();
                sodium_memzero(bytes.data(), size_t(bytes.size()));
            }
        }
    }
    DBKeeper::setLocalOnlyWithoutKeyHash(currentKeyHash());
    postZeroChanged();
}

void ZeroManager::cleanKeyInfo()
{
    const auto user = loggedInUser();
    QMutexLocker keychainLock(&m_keychainMutex);
    {
        QMutexLocker lock(&m_mutex);
        m_current.reset();
        m_pending.reset();
        m_missingFor = user;
        m_retry.reset();
    }
    if (user)
        deleteItemLocked(*user);
}

void ZeroManager::cleanKeyDatas()
{
    const auto user = loggedInUser();
    QMutexLocker keychainLock(&m_keychainMutex);
    {
        QMutexLocker lock(&m_mutex);
        m_current.reset();
        m_missingFor = user;
        m_retry.reset();
    }
    if (user)
        deleteItemLocked(*user);
}

void ZeroManager::deleteItemLocked(const QString& userId)
{
    deletePasswordForService(keychainService(), storeKey(userId));
}

// --- Making, changing and installing a key ------------------------------------------------------

QVariantMap ZeroManager::keepPending(std::shared_ptr<Pair> pair)
{
    const QVariantMap dict = dictFromCEData(*pair->data, *pair->cipher, currentWrapVersion());
    QMutexLocker lock(&m_mutex);
    m_pending = std::move(pair);
    return dict;
}

std::optional<QVariantMap> ZeroManager::generateKey(const QString& pwd, QString* pwdVerifier)
{
    const auto user = loggedInUser();
    if (pwd.isEmpty() || !user)
        return std::nullopt;
    auto pair = newCurrentWrap(*user, pwd, ce_new_data(), pwdVerifier);
    if (!pair)
        return std::nullopt;
    return keepPending(std::move(pair));
}

std::optional<QVariantMap> ZeroManager::modifyKeyWithPwd(const QString& pwd, QString* pwdVerifier)
{
    if (pwd.isEmpty())
        return std::nullopt;
    const PairPtr current = usablePair();
    if (!current)
        return std::nullopt;
    ce_data* data = copyOfKeyData(*current->data);
    auto pair = newCurrentWrap(current->userId, pwd, data, pwdVerifier);
    if (!pair)
        return std::nullopt;
    return keepPending(std::move(pair));
}

std::optional<ZeroRewrap> ZeroManager::rewrapOlderKey(const QString& pwd)
{
    const PairPtr current = usablePair();
    // A PIN kept from the older rule is not wrapped again as it is: the user picks a new one.
    if (!current || current->version != kOlderWrap || pwd.toUcs4().size() < kMinPinCharacters || !checkCurrentPwd(pwd))
        return std::nullopt;
    ce_data* data = copyOfKeyData(*current->data);
    ZeroRewrap rewrap;
    auto pair = newCurrentWrap(current->userId, pwd, data, &rewrap.pwdVerifier);
    if (!pair)
        return std::nullopt;
    rewrap.lastPwdVerifier = pinVerifierWithBase64(pwd);
    rewrap.keyDict = keepPending(std::move(pair));
    return rewrap;
}

bool ZeroManager::makeKeyAvailable(const QVariantMap& acceptedKeyDict)
{
    const auto user = loggedInUser();
    if (!user)
        return false;
    const auto keyHash = stringValue(acceptedKeyDict, kKeyHash);
    const auto cipherHash = stringValue(acceptedKeyDict, kCipherHash);
    {
        QMutexLocker lock(&m_mutex);
        // The server accepted one particular pair; a pending pair made since then is not it.
        if (!m_pending || m_pending->userId != *user || keyHash != m_pending->keyHash()
            || cipherHash != m_pending->cipherHash())
            return false;
        m_current = std::move(m_pending);
        m_pending.reset();
    }
    updateKeyInfo();
    return true;
}

bool ZeroManager::hasSeenCurrentWrap(const QString& userId)
{
    return ClipUserDefaults::standardUserDefaults().stringList(DefaultsKey::CurrentWrapUserIds).contains(userId);
}

bool ZeroManager::decryptKey(const QString& pwd, const QVariant& cipherDict, KeyRefusal* why)
{
    KeyRefusal ignored = KeyRefusal::None;
    KeyRefusal& refusal = why ? *why : ignored;
    refusal = KeyRefusal::Malformed;
    // Argon2id may run long off the main thread: the key goes in only for the login it was
    // asked under, never after a logout or into a newer login.
    const quint64 epoch = ConfigureManager::sharedInstance().loginEpoch();
    const auto user = loggedInUser();
    const auto dict = asMap(cipherDict);
    if (pwd.isEmpty() || !dict || !user)
        return false;
    const auto cipherText = stringValue(*dict, kCipher);
    const auto keyHash = stringValue(*dict, kKeyHash);
    const auto cipherHash = stringValue(*dict, kCipherHash);
    // Times: never a boolean or a fraction (JSON true is not the time 1).
    const auto keyTimestamp = NumberReader::idOrTime(dict->value(kKeyTimestamp), std::numeric_limits<qint64>::min(),
                                                     std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
    const auto cipherTimestamp = NumberReader::idOrTime(dict->value(kCipherTimestamp),
                                                        std::numeric_limits<qint64>::min(),
                                                        std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
    const auto version = wrapVersionOf(dict->value(kVersion));
    if (!cipherText || !keyHash || !cipherHash || !keyTimestamp || !cipherTimestamp || !version)
        return false;
    const auto cipherBytes = strictBase64(*cipherText);
    if (!cipherBytes || cipherBytes->size() != qsizetype(CE_CIPHER_BYTES) || !isValidKeyHash(*keyHash)
        || !isValidKeyHash(*cipherHash))
        return false;

    auto pair = newPair(*user, ce_alloc_data(), ce_alloc_cipher_data(), *version);
    if (!pair)
        return false;
    ce_cipher_data& cipher = *pair->cipher;
    std::memcpy(cipher.cipher, cipherBytes->constData(), CE_CIPHER_BYTES);
    cipher.cipher_timestamp = *cipherTimestamp;
    copyHash(*cipherHash, cipher.cipher_hash);

    ce_data& data = *pair->data;
    data.key_timestamp = *keyTimestamp;
    copyHash(*keyHash, data.key_hash);
    // The service could offer an older record wrapping a key of its own choosing, whose PIN
    // a record of that kind gives up quickly: once this account was seen at the current wrap
    // here, an older one is not taken.
    if (*version != kCurrentWrap && hasSeenCurrentWrap(*user)) {
        spdlog::warn("an older key record was offered for an account that uses the current one: refused");
        refusal = KeyRefusal::Downgrade;
        return false;
    }
    // Asked before the costly opening, and again at installing: a reply may report a new key
    // while Argon2id runs.
    const auto isKnownOrUnknown = [&] {
        const auto known = knownKeyHashLocked(*user);
        return !known || *known == *keyHash;
    };
    {
        QMutexLocker lock(&m_mutex);
        if (!isKnownOrUnknown()) {
            spdlog::warn("a key record of a key other than the account's known one: refused");
            refusal = KeyRefusal::NotKnownKey;
            return false;
        }
    }
    refusal = KeyRefusal::WrongPin;
    if (*version == kCurrentWrap) {
        PinSecret secret;
        if (!derivePinSecret(pwd, *user, secret) || ce_unwrap_key_v2(secret.bytes, data.key_hash, cipher.cipher, data.key) != 0)
            return false;
    } else {
        const QByteArray pin = pinBytes(pwd);
        if (ce_unwrap_key(reinterpret_cast<const unsigned char*>(pin.constData()), size_t(pin.size()), cipher.cipher,
                          data.key)
            != 0)
            return false;
    }
    // The record's hashes are the key's own: a key wrapped under another key's key_hash, or a
    // cipher_hash that is not of this key, is no record of this account's key.
    char computed[CE_HASH_HEX_BYTES];
    const bool keyMatches = ce_compute_key_hash(&data, computed) && sameHashField(computed, data.key_hash);
    const bool cipherMatches =
        keyMatches && ce_compute_cipher_hash(&cipher, data.key, computed) && sameHashField(computed, cipher.cipher_hash);
    if (!cipherMatches) {
        spdlog::warn("a key record whose hashes do not belong to the key it holds: refused");
        refusal = KeyRefusal::KeyMismatch;
        return false;
    }

    {
        QMutexLocker lock(&m_mutex);
        if (!ConfigureManager::sharedInstance().isLoginEpoch(epoch)) {
            refusal = KeyRefusal::Malformed;
            return false;
        }
        if (!isKnownOrUnknown()) {
            refusal = KeyRefusal::NotKnownKey;
            return false;
        }
        m_current = std::move(pair);
    }
    refusal = KeyRefusal::None;
    updateKeyInfo();
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
    return true;
}

bool ZeroManager::checkCurrentPwd(const QString& pwd, QString* pwdVerifier)
{
    const PairPtr pair = usablePair();
    if (!pair || pwd.isEmpty())
        return false;
    unsigned char key[CE_KEY_BYTES];
    bool opened = false;
    QString verifier;
    if (pair->version == kCurrentWrap) {
        PinSecret secret;
        opened = derivePinSecret(pwd, pair->userId, secret)
                 && ce_unwrap_key_v2(secret.bytes, pair->data->key_hash, pair->cipher->cipher, key) == 0;
        if (opened && pwdVerifier)
            verifier = verifierOf(secret);
    } else {
        const QByteArray pin = pinBytes(pwd);
        opened = ce_unwrap_key(reinterpret_cast<const unsigned char*>(pin.constData()), size_t(pin.size()),
                               pair->cipher->cipher, key)
                 == 0;
        if (opened && pwdVerifier)
            verifier = pinVerifierWithBase64(pwd);
    }
    opened = opened && sodium_memcmp(key, pair->data->key, CE_KEY_BYTES) == 0;
    sodium_memzero(key, sizeof key);
    if (opened && pwdVerifier)
        *pwdVerifier = verifier;
    return opened;
}

const QString& ZeroManager::olderWrapVersion()
{
    static const QString version = QStringLiteral("1.0");
    return version;
}

const QString& ZeroManager::currentWrapVersion()
{
    static const QString version = QStringLiteral("2.0");
    return version;
}

QVariantMap ZeroManager::dictFromCEData(const ce_data& data, const ce_cipher_data& cipher)
{
    return dictFromCEData(data, cipher, olderWrapVersion());
}

QVariantMap ZeroManager::dictFromCEData(const ce_data& data, const ce_cipher_data& cipher, const QString& version)
{
    QVariantMap dict;
    dict.insert(kKeyTimestamp, qint64(data.key_timestamp));
    dict.insert(kKeyHash, hashText(data.key_hash));
    dict.insert(kCipher, QString::fromLatin1(
                             QByteArray(reinterpret_cast<const char*>(cipher.cipher), CE_CIPHER_BYTES).toBase64()));
    dict.insert(kCipherTimestamp, qint64(cipher.cipher_timestamp));
    dict.insert(kCipherHash, hashText(cipher.cipher_hash));
    dict.insert(kVersion, version);
    dict.insert(kPlatform, currentDeviceType());
    return dict;
}

// --- The current pair -------------------------------------------------------------------------

std::optional<QString> ZeroManager::currentKeyHash()
{
    if (const PairPtr pair = usablePair())
        return pair->keyHash();
    return std::nullopt;
}

std::optional<QString> ZeroManager::currentCipherHash()
{
    if (const PairPtr pair = usablePair())
        return pair->cipherHash();
    return std::nullopt;
}

std::optional<ZeroHashes> ZeroManager::currentHashes()
{
    if (const PairPtr pair = usablePair())
        return ZeroHashes{pair->keyHash(), pair->cipherHash()};
    return std::nullopt;
}

std::optional<QString> ZeroManager::currentWrapVersionInUse()
{
    if (const PairPtr pair = usablePair())
        return wrapVersionText(pair->version);
    return std::nullopt;
}

bool ZeroManager::checkServerCipher(const QVariant& cipher)
{
    const auto dict = asMap(cipher);
    if (!dict || dict->isEmpty())
        return true;
    const auto serverKeyHash = stringValue(*dict, kKeyHash);
    const auto serverCipherHash = stringValue(*dict, kCipherHash);
    // Only a well-formed answer may drop the key: a garbled reply must not cost the user it.
    if (!serverKeyHash || !serverCipherHash || !isValidKeyHash(*serverKeyHash) || !isValidKeyHash(*serverCipherHash))
        return true;
    const auto user = loggedInUser();
    if (!user)
        return true;

    bool keyDiffers = false;
    {
        QMutexLocker keychainLock(&m_keychainMutex);
        {
            // Compare and drop in one step, so the pair dropped is the pair compared.
            QMutexLocker lock(&m_mutex);
            m_reportedKeyHash.insert(*user, *serverKeyHash);
            if (!m_current || m_current->userId != *user)
                return true;
            const QString keyHash = m_current->keyHash();
            if (keyHash == *serverKeyHash && m_current->cipherHash() == *serverCipherHash)
                return true;
            keyDiffers = keyHash != *serverKeyHash;
            m_current.reset();
            m_missingFor = *user;
            m_retry.reset();
        }
        deleteItemLocked(*user);
    }
    if (keyDiffers)
        DBKeeper::setLocalOnlyWithoutKeyHash(*serverKeyHash);
    postZeroChanged();
    return false;
}

std::optional<QString> ZeroManager::knownKeyHashLocked(const QString& userId) const
{
    if (m_current && m_current->userId == userId)
        return m_current->keyHash();
    const auto it = m_reportedKeyHash.constFind(userId);
    if (it == m_reportedKeyHash.constEnd())
        return std::nullopt;
    return *it;
}

// --- Encryption with the current key --------------------------------------------------------------

namespace {

using BufferCipher = int (*)(const unsigned char*, size_t, unsigned char**, size_t*, const unsigned char*);

// Runs one of the buffer ciphers over the bytes; the output buffer is wiped when it held
// plaintext.
std::optional<QByteArray> runBufferCipher(BufferCipher cipher, const QByteArray& in, const unsigned char* key,
                                          bool wipeOutput)
{
    unsigned char* out = nullptr;
    size_t outLen = 0;
    if (cipher(reinterpret_cast<const unsigned char*>(in.constData()), size_t(in.size()), &out, &outLen, key) != 0)
        return std::nullopt;
    QByteArray result(reinterpret_cast<const char*>(out), qsizetype(outLen));
    if (wipeOutput)
        sodium_memzero(out, outLen);
    free(out);
    return result;
}

}  // namespace

std::optional<QByteArray> ZeroManager::encryptData(const QByteArray& data)
{
    const PairPtr pair = usablePair();
    if (!pair)
        return std::nullopt;
    return runBufferCipher(ce_encrypt_buffer, data, pair->data->key, false);
}

std::optional<QByteArray> ZeroManager::decryptData(const QByteArray& data)
{
    const PairPtr pair = usablePair();
    if (!pair)
        return std::nullopt;
    return runBufferCipher(ce_decrypt_buffer, data, pair->data->key, true);
}

std::optional<ZeroEncryptedText> ZeroManager::encryptDataToBase64String(const QString& text)
{
    const PairPtr pair = usablePair();
    if (!pair)
        return std::nullopt;
    const auto cipher = runBufferCipher(ce_encrypt_buffer, text.toUtf8(), pair->data->key, false);
    if (!cipher)
        return std::nullopt;
    ZeroEncryptedText result;
    result.base64 = QString::fromLatin1(cipher->toBase64());
    result.keyHash = pair->keyHash();
    return result;
}

std::optional<QString> ZeroManager::decryptBase64String(const QString& base64)
{
    const PairPtr pair = usablePair();
    if (!pair)
        return std::nullopt;
    const auto cipherBytes = strictBase64(base64);
    if (!cipherBytes)
        return std::nullopt;
    unsigned char* out = nullptr;
    size_t outLen = 0;
    if (ce_decrypt_buffer(reinterpret_cast<const unsigned char*>(cipherBytes->constData()),
                          size_t(cipherBytes->size()), &out, &outLen, pair->data->key)
        != 0)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(QByteArrayView(reinterpret_cast<const char*>(out), qsizetype(outLen)));
    sodium_memzero(out, outLen);
    free(out);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> ZeroManager::encryptFileFrom(const QString& sourcePath, const QString& targetPath)
{
    if (sourcePath.isEmpty() || targetPath.isEmpty())
        return std::nullopt;
    const PairPtr pair = usablePair();
    if (!pair)
        return std::nullopt;
    if (ce_encrypt_file(QFile::encodeName(targetPath).constData(), QFile::encodeName(sourcePath).constData(),
                        pair->data->key)
        != 0)
        return std::nullopt;
    return pair->keyHash();
}

bool ZeroManager::decryptFileFrom(const QString& sourcePath, const QString& targetPath)
{
    if (sourcePath.isEmpty() || targetPath.isEmpty())
        return false;
    const PairPtr pair = usablePair();
    if (!pair)
        return false;
    return ce_decrypt_file(QFile::encodeName(targetPath).constData(), QFile::encodeName(sourcePath).constData(),
                           pair->data->key)
           == 0;
}

// --- PIN hashes and sealing ----------------------------------------------------------------------

QByteArray ZeroManager::hashPwd(const QString& pwd)
{
    const QByteArray pin = pinBytes(pwd);
    unsigned char* out = nullptr;
    size_t outLen = 0;
    ce_hash_password(reinterpret_cast<const unsigned char*>(pin.constData()), size_t(pin.size()), &out, &outLen);
    if (!out)
        return {};
    QByteArray hash(reinterpret_cast<const char*>(out), qsizetype(outLen));
    sodium_memzero(out, outLen);
    free(out);
    return hash;
}

QString ZeroManager::hashPwdWithBase64(const QString& pwd)
{
    QByteArray hash = hashPwd(pwd);
    const QString text = QString::fromLatin1(hash.toBase64());
    sodium_memzero(hash.data(), size_t(hash.size()));
    return text;
}

QString ZeroManager::pinVerifierWithBase64(const QString& pwd)
{
    QByteArray wrapKey = hashPwd(pwd);
    if (wrapKey.size() != qsizetype(CE_PIN_HASH_BYTES) || !ce_is_available())
        return {};
    static const char kLabel[] = "pin-verifier";
    unsigned char verifier[32];
    const int rc = crypto_generichash(verifier, sizeof verifier, reinterpret_cast<const unsigned char*>(kLabel),
                                      sizeof kLabel - 1, reinterpret_cast<const unsigned char*>(wrapKey.constData()),
                                      size_t(wrapKey.size()));
    sodium_memzero(wrapKey.data(), size_t(wrapKey.size()));
    if (rc != 0)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(verifier), sizeof verifier).toBase64());
}

QString ZeroManager::pinVerifier(const QString& pwd, const QString& version)
{
    const auto user = loggedInUser();
    const auto wrap = wrapVersionOf(version);
    if (!user || !wrap)
        return {};
    if (*wrap == kOlderWrap)
        return pinVerifierWithBase64(pwd);
    PinSecret secret;
    return derivePinSecret(pwd, *user, secret) ? verifierOf(secret) : QString();
}

std::optional<QByteArray> ZeroManager::encryptDataWithSealedPublicKey(const QByteArray& data,
                                                                      const QByteArray& publicKey)
{
    // A key of any other length is not the server's key; sealing to part of it would be useless.
    if (publicKey.size() != qsizetype(CE_PUBLIC_KEY_BYTES))
        return std::nullopt;
    unsigned char* out = nullptr;
    size_t outLen = 0;
    ce_seal_buffer(reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()), &out, &outLen,
                   reinterpret_cast<const unsigned char*>(publicKey.constData()));
    if (!out)
        return std::nullopt;
    QByteArray sealed(reinterpret_cast<const char*>(out), qsizetype(outLen));
    free(out);
    return sealed;
}

// --- Slots ----------------------------------------------------------------------------------------

ZeroManager::PairPtr ZeroManager::currentSnapshot()
{
    QMutexLocker lock(&m_mutex);
    return m_current;
}

ZeroManager::PairPtr ZeroManager::usablePair()
{
    const auto user = loggedInUser();
    if (!user)
        return {};
    PairPtr pair = currentSnapshot();
    if (!pair || pair->userId != *user)
        return {};
    return pair;
}

void ZeroManager::emptyAllSlots()
{
    QMutexLocker lock(&m_mutex);
    m_current.reset();
    m_pending.reset();
    m_missingFor.reset();
    m_retry.reset();
    m_reportedKeyHash.clear();
}

void ZeroManager::setWrapLimitsForTesting(unsigned long long opslimit, size_t memlimit)
{
    g_wrapOpsLimit.store(opslimit);
    g_wrapMemLimit.store(memlimit);
}

void ZeroManager::useProductWrapLimitsForTesting()
{
    setWrapLimitsForTesting(crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE);
}

void ZeroManager::useCheapWrapLimitsForTesting()
{
    setWrapLimitsForTesting(crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
}

void ZeroManager::resetForTesting()
{
    QMutexLocker keychainLock(&m_keychainMutex);
    emptyAllSlots();
}
