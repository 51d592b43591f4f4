#include "service/loginrequestmanager.h"

#include "service/accountlogin.h"
#include "service/serverpublickey.h"
#include "store/deviceidentity.h"
#include "store/utils.h"

LoginRequestManager::LoginRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString LoginRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/login_v2/");
}

QString LoginRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + QStringLiteral("&device_name=") + urlencode(hostDeviceName()));
}

bool LoginRequestManager::isContinueRequest() const
{
    return ServerPublicKey::stored().has_value();
}

void LoginRequestManager::genPostData()
{
    m_sentEmail = user;
    m_sequence = AccountLogin::nextSequence();
    httpBodyData = AccountLogin::body(user, passwd);
}

QVariant LoginRequestManager::parse(const QByteArray& data)
{
    const QVariant reply = decodeJson(data);
    if (isSameLoginAsSent() && AccountLogin::isLatest(m_sequence))
        AccountLogin::applyReply(reply, m_sentEmail);
    return reply;
}
