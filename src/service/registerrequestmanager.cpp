#include "service/registerrequestmanager.h"

QString RegisterRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/register_v2/");
}

void RegisterRequestManager::genPostData()
{
    setBody(username, passwd);
}
