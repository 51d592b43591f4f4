#include "service/zeromanager.h"

// Bodies follow in the next commit; every operation answers as with no key.

struct ZeroManager::Pair {};

ZeroManager& ZeroManager::sharedInstance()
{
    static ZeroManager instance;
    return instance;
}

ZeroManager::ZeroManager() = default;

const QString& ZeroManager::keychainService()
{
    static const QString service = QStringLiteral("encrypt.clipboard.manager");
    return service;
}

QString ZeroManager::storeKey(const QString& userId)
{
    return QStringLiteral("user_%1_key").arg(userId);
}

std::optional<QVariantMap> ZeroManager::dictionaryWithPlistData(const std::optional<QByteArray>&) { return std::nullopt; }
QByteArray ZeroManager::plistDataDict(const QVariantMap&) { return {}; }
std::optional<QByteArray> ZeroManager::passwordDataForService(const QString&, const QString&, QString*) { return std::nullopt; }
bool ZeroManager::setPasswordData(const QByteArray&, const QString&, const QString&, QString*) { return false; }
bool ZeroManager::deletePasswordForService(const QString&, const QString&, QString*) { return false; }
int ZeroManager::state() { return 0; }
void ZeroManager::readKeyInfo() {}
void ZeroManager::updateKeyInfo() {}
void ZeroManager::cleanKeyInfo() {}
void ZeroManager::cleanKeyDatas() {}
std::optional<QVariantMap> ZeroManager::generateKey(const QString&) { return std::nullopt; }
std::optional<QVariantMap> ZeroManager::modifyKeyWithPwd(const QString&) { return std::nullopt; }
bool ZeroManager::makeKeyAvailable(const QVariantMap&) { return false; }
bool ZeroManager::decryptKey(const QString&, const QVariant&) { return false; }
bool ZeroManager::checkCurrentPwd(const QString&) { return false; }
QVariantMap ZeroManager::dictFromCEData(const ce_data&, const ce_cipher_data&) { return {}; }
std::optional<QString> ZeroManager::currentKeyHash() { return std::nullopt; }
std::optional<QString> ZeroManager::currentCipherHash() { return std::nullopt; }
bool ZeroManager::checkServerCipher(const QVariant&) { return true; }
std::optional<QByteArray> ZeroManager::encryptData(const QByteArray&) { return std::nullopt; }
std::optional<QByteArray> ZeroManager::decryptData(const QByteArray&) { return std::nullopt; }
std::optional<ZeroEncryptedText> ZeroManager::encryptDataToBase64String(const QString&) { return std::nullopt; }
std::optional<QString> ZeroManager::decryptBase64String(const QString&) { return std::nullopt; }
std::optional<QString> ZeroManager::encryptFileFrom(const QString&, const QString&) { return std::nullopt; }
bool ZeroManager::decryptFileFrom(const QString&, const QString&) { return false; }
QByteArray ZeroManager::hashPwd(const QString&) { return {}; }
QString ZeroManager::hashPwdWithBase64(const QString&) { return {}; }
QString ZeroManager::pinVerifierWithBase64(const QString&) { return {}; }
std::optional<QByteArray> ZeroManager::encryptDataWithSealedPublicKey(const QByteArray&, const QByteArray&) { return std::nullopt; }
void ZeroManager::resetForTesting() {}
ZeroManager::PairPtr ZeroManager::usablePair() { return {}; }
ZeroManager::PairPtr ZeroManager::currentSnapshot() { return {}; }
void ZeroManager::emptyAllSlots() {}
void ZeroManager::emptyCurrentSlots() {}
void ZeroManager::deleteItemLocked(const QString&) {}
