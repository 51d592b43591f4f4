#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

// The JSON bodies of the key requests: the key_dict embedded as an object, and the PIN
// verifier beside it when one is given.
namespace ZeroKeyRequestBody {

QJsonObject withKeyDict(const QVariantMap& keyDict, const QString& pwdVerifier);
QByteArray serialized(const QJsonObject& body);

}  // namespace ZeroKeyRequestBody
