#include "service/checkupdaterequestmanager.h"

QString CheckUpdateRequestManager::methodURL() const
{
    return {};
}

bool CheckUpdateRequestManager::isContinueRequest() const
{
    return true;
}

QVariant CheckUpdateRequestManager::parse(const QByteArray& data)
{
    Q_UNUSED(data);
    return {};
}
