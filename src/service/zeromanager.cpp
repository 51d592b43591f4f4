#include "service/zeromanager.h"

#include "service/sodiumglue.h"

#include <cstdlib>

ZeroManager& ZeroManager::sharedInstance()
{
    static ZeroManager instance;
    return instance;
}

int ZeroManager::state()
{
    return 0;
}

std::optional<QString> ZeroManager::currentKeyHash()
{
    return std::nullopt;
}

std::optional<QString> ZeroManager::currentCipherHash()
{
    return std::nullopt;
}

bool ZeroManager::checkServerCipher(const QVariant& cipher)
{
    Q_UNUSED(cipher);
    return true;
}

std::optional<QByteArray> ZeroManager::encryptDataWithSealedPublicKey(const QByteArray& data,
                                                                      const QByteArray& publicKey)
{
    // A shorter key would make the sealing read past it; a longer one is not a box key.
    if (publicKey.size() != static_cast<qsizetype>(CE_PUBLIC_KEY_BYTES) || !ce_is_available())
        return std::nullopt;
    unsigned char* out = nullptr;
    size_t outLen = 0;
    ce_seal_buffer(reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()), &out,
                   &outLen, reinterpret_cast<const unsigned char*>(publicKey.constData()));
    if (!out)
        return std::nullopt;
    QByteArray sealed(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outLen));
    std::free(out);
    return sealed;
}
