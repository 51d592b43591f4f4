#include "sync/clearhistoryrequestmanager.h"

#include "platform/numberreader.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"
#include "sync/replyverdict.h"

#include <QJsonDocument>
#include <QJsonObject>

QString ClearHistoryRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/clear_history/");
}

void ClearHistoryRequestManager::request(Completion completion)
{
    std::weak_ptr<RequestManager> self = weak_from_this();
    RequestManager::request([self, completion = std::move(completion)](
                                const QVariant& result, int status, const std::optional<RequestError>& error) {
        if (!completion)
            return;
        // A logout may come between the parse and this callback.
        const auto request = std::static_pointer_cast<ClearHistoryRequestManager>(self.lock());
        completion(request && request->isSendersLogin() ? result : QVariant(), status, error);
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
    // A reply to a login that ended speaks for no account: its key fingerprint is not read.
    if (ReplyVerdict::endLoginIfSaid(reply, sentUserToken()))
        return {};
    ZeroManager::sharedInstance().checkServerCipher(reply.value(u"cipher").toVariant());
    if (NumberReader::jsonIntegerOrZero(reply.value(u"code").toVariant()) != 0)
        return {};
    return reply.toVariantMap();
}

bool ClearHistoryRequestManager::isSendersLogin() const
{
    return sentUserToken() && isSameLoginAsSent() && ConfigureManager::sharedInstance().isLoginEpoch(sentLoginEpoch());
}
