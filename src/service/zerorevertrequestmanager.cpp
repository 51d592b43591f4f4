#include "service/zerorevertrequestmanager.h"

#include "service/serverpublickey.h"
#include "service/zerokeyrequestbody.h"
#include "service/zeromanager.h"
#include "store/digest.h"

ZeroRevertRequestManager::ZeroRevertRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString ZeroRevertRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/revert_key/");
}

void ZeroRevertRequestManager::genPostData()
{
    QJsonObject body = ZeroKeyRequestBody::withKeyDict(key_dict, pwd_verifier);
    if (const auto publicKey = ServerPublicKey::stored()) {
        const auto sealed =
            ZeroManager::sharedInstance().encryptDataWithSealedPublicKey(md5HexOfString(pwd).toUtf8(), *publicKey);
        if (sealed)
            body.insert(QStringLiteral("pwd_hash_cipher"), QString::fromLatin1(sealed->toBase64()));
    }
    httpBodyData = ZeroKeyRequestBody::serialized(body);
}

QVariant ZeroRevertRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
