#include "service/loginrequestmanager.h"

QString LoginRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/login_v2/");
}

void LoginRequestManager::genPostData()
{
    setBody(user, passwd);
}
