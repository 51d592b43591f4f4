#include "service/initrequestmanager.h"

InitRequestManager::InitRequestManager() = default;

QString InitRequestManager::methodURL() const
{
    return {};
}

bool InitRequestManager::isContinueRequest() const
{
    return true;
}

QVariant InitRequestManager::parse(const QByteArray& data)
{
    Q_UNUSED(data);
    return {};
}
