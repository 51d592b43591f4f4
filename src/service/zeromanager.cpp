#include "service/zeromanager.h"

#include "service/zeromanagerparts.h"

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
