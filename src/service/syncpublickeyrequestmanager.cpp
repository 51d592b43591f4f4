#include "service/syncpublickeyrequestmanager.h"

#include "service/serverpublickey.h"

#include <QVariantMap>

SyncPublicKeyRequestManager::SyncPublicKeyRequestManager()
{
    httpMethod = QStringLiteral("GET");
}

QString SyncPublicKeyRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/public_key/");
}

bool SyncPublicKeyRequestManager::isContinueRequest() const
{
    return true;
}

QVariant SyncPublicKeyRequestManager::parse(const QByteArray& data)
{
    const QVariant decoded = decodeJson(data);
    if (decoded.typeId() == QMetaType::QVariantMap) {
        if (const auto key = ServerPublicKey::decode(decoded.toMap().value(QStringLiteral("public_key"))))
            ServerPublicKey::store(*key);
    }
    return decoded;
}
