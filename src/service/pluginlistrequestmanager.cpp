#include "service/pluginlistrequestmanager.h"

QString PluginListRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/plugins/");
}

QString PluginListRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL());
}

bool PluginListRequestManager::isContinueRequest() const
{
    return true;
}

QVariant PluginListRequestManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
