#include "service/zeropushrequestmanager.h"

#include "service/zerokeyrequestbody.h"

ZeroPushRequestManager::ZeroPushRequestManager()
{
    httpMethod = QStringLiteral("PUT");
}

QString ZeroPushRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/key/");
}

void ZeroPushRequestManager::genPostData()
{
    httpBodyData = ZeroKeyRequestBody::serialized(ZeroKeyRequestBody::withKeyDict(key_dict, pwd_verifier));
}

QVariant ZeroPushRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
