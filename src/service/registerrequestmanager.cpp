#include "service/registerrequestmanager.h"

#include "service/accountlogin.h"
#include "service/serverpublickey.h"
#include "store/deviceidentity.h"
#include "store/utils.h"

RegisterRequestManager::RegisterRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString RegisterRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/register_v2/");
}

QString RegisterRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + QStringLiteral("&device_name=") + urlencode(hostDeviceName()));
}

bool RegisterRequestManager::isContinueRequest() const
{
    return ServerPublicKey::stored().has_value();
}

void RegisterRequestManager::genPostData()
{
    m_sentEmail = username;
    m_sequence = AccountLogin::nextSequence();
    httpBodyData = AccountLogin::body(username, passwd);
}

QVariant RegisterRequestManager::parse(const QByteArray& data)
{
    const QVariant reply = decodeJson(data);
    if (isSameLoginAsSent() && AccountLogin::isLatest(m_sequence))
        AccountLogin::applyReply(reply, m_sentEmail);
    return reply;
}
