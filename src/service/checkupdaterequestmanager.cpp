#include "service/checkupdaterequestmanager.h"

QString CheckUpdateRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/check_version/");
}

QString CheckUpdateRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL());
}

bool CheckUpdateRequestManager::isContinueRequest() const
{
    return true;
}

QVariant CheckUpdateRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
