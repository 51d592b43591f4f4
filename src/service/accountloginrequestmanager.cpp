#include "service/accountloginrequestmanager.h"

#include "service/accountlogin.h"
#include "service/serverpublickey.h"
#include "store/deviceidentity.h"
#include "store/utils.h"

AccountLoginRequestManager::AccountLoginRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString AccountLoginRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + QStringLiteral("&device_name=") + urlencode(hostDeviceName()));
}

bool AccountLoginRequestManager::isContinueRequest() const
{
    return ServerPublicKey::stored().has_value();
}

void AccountLoginRequestManager::setBody(const QString& email, const QString& password)
{
    m_sentEmail = email;
    m_sequence = AccountLogin::nextSequence();
    httpBodyData = AccountLogin::body(email, password);
}

QVariant AccountLoginRequestManager::parse(const QByteArray& data)
{
    const QVariant reply = decodeJson(data);
    if (isSameLoginAsSent() && AccountLogin::isLatest(m_sequence))
        AccountLogin::applyReply(reply, m_sentEmail);
    return reply;
}
