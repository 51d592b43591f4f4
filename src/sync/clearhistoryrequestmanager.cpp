#include "sync/clearhistoryrequestmanager.h"

#include "platform/numberreader.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"

#include <QJsonDocument>
#include <QJsonObject>

QString ClearHistoryRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/clear_history/");
}

QString ClearHistoryRequestManager::combinURL() const
{
    return RequestManager::combinURL() + QStringLiteral("&user_token=")
        + ConfigureManager::sharedInstance().loginUserToken().value_or(QString());
}

void ClearHistoryRequestManager::request(Completion completion)
{
    m_loginToken = ConfigureManager::sharedInstance().loginUserToken();
    RequestManager::request([this, completion = std::move(completion)](
                                const QVariant& result, int status, const std::optional<RequestError>& error) {
        if (!completion)
            return;
        // A logout may come between the parse and this callback.
        completion(isSendersLogin() ? result : QVariant(), status, error);
    });
}

QVariant ClearHistoryRequestManager::parse(const QByteArray& data)
{
    if (!isSendersLogin())
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject())
        return {};
    const QJsonObject reply = doc.object();
    ZeroManager::sharedInstance().checkServerCipher(reply.value(u"cipher").toVariant());
    if (NumberReader::jsonIntegerOrZero(reply.value(u"code").toVariant()) != 0)
        return {};
    return reply.toVariantMap();
}

bool ClearHistoryRequestManager::isSendersLogin() const
{
    const auto current = ConfigureManager::sharedInstance().loginUserToken();
    return current && current == m_loginToken;
}
