#include "service/zeromodifyrequestmanager.h"

#include "service/zerokeyrequestbody.h"

ZeroModifyRequestManager::ZeroModifyRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString ZeroModifyRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/key/");
}

void ZeroModifyRequestManager::genPostData()
{
    QJsonObject body = ZeroKeyRequestBody::withKeyDict(key_dict, pwd_verifier);
    body.insert(QStringLiteral("last_pwd_hash"), curPwdVerifierB64);
    httpBodyData = ZeroKeyRequestBody::serialized(body);
}

QVariant ZeroModifyRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
