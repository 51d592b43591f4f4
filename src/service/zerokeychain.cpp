// The keychain item of the end-to-end key and the key state read from it.
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

