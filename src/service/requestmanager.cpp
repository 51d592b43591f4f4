#include "service/requestmanager.h"

#include "platform/dispatch.h"

QString RequestManager::baseURL() const
{
    return {};
}

QString RequestManager::methodURL() const
{
    return {};
}

QString RequestManager::combinURL() const
{
    return methodURL();
}

bool RequestManager::isContinueRequest() const
{
    return false;
}

void RequestManager::genPostData() {}

void RequestManager::request(Completion completion)
{
    if (!completion)
        return;
    dispatch::mainAsync([completion = std::move(completion)] { completion(QVariant(), kNoStatus, std::nullopt); });
}

QVariant RequestManager::parse(const QByteArray& data)
{
    Q_UNUSED(data);
    return {};
}
