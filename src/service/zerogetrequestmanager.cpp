#include "service/zerogetrequestmanager.h"

ZeroGetRequestManager::ZeroGetRequestManager() = default;

QString ZeroGetRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/key/");
}

QVariant ZeroGetRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
