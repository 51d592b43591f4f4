#include "service/zerogetrequestmanager.h"

ZeroGetRequestManager::ZeroGetRequestManager() = default;

QString ZeroGetRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/key/");
}

QString ZeroGetRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + tokenParameter());
}

QVariant ZeroGetRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
