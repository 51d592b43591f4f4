#include "service/serverpublickey.h"

#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"

namespace ServerPublicKey {

std::optional<QByteArray> stored()
{
    const auto key = ClipUserDefaults::standardUserDefaults().data(DefaultsKey::ServerPublicKey);
    if (!key || key->size() != kBytes)
        return std::nullopt;
    return key;
}

void store(const QByteArray& key)
{
    ClipUserDefaults::standardUserDefaults().setValue(DefaultsKey::ServerPublicKey, key);
}

void remove()
{
    ClipUserDefaults::standardUserDefaults().remove(DefaultsKey::ServerPublicKey);
}

std::optional<QByteArray> decode(const QVariant& base64Text)
{
    if (base64Text.typeId() != QMetaType::QString)
        return std::nullopt;
    const auto result = QByteArray::fromBase64Encoding(base64Text.toString().toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != kBytes)
        return std::nullopt;
    return result.decoded;
}

}  // namespace ServerPublicKey
