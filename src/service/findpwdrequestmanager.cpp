#include "service/findpwdrequestmanager.h"

#include "store/utils.h"

QString FindPwdRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/forget_pwd/");
}

QString FindPwdRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + QStringLiteral("&user_email=") + urlencode(user_email));
}

bool FindPwdRequestManager::isContinueRequest() const
{
    return true;
}

QVariant FindPwdRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
