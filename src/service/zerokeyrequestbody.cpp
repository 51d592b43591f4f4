#include "service/zerokeyrequestbody.h"

#include <QJsonDocument>

namespace ZeroKeyRequestBody {

QJsonObject withKeyDict(const QVariantMap& keyDict, const QString& pwdVerifier)
{
    QJsonObject body{{QStringLiteral("key_dict"), QJsonObject::fromVariantMap(keyDict)}};
    if (!pwdVerifier.isEmpty())
        body.insert(QStringLiteral("pwd_verifier"), pwdVerifier);
    return body;
}

QByteArray serialized(const QJsonObject& body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

}  // namespace ZeroKeyRequestBody
