// Encryption with the current key, the PIN's hashes and sealed boxes.
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

