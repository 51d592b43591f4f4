#include "service/zerogetrequestmanager.h"

#include "platform/numberreader.h"
#include "service/zeromanager.h"

ZeroGetRequestManager::ZeroGetRequestManager() = default;

QString ZeroGetRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/key/");
}

QVariant ZeroGetRequestManager::parse(const QByteArray& data)
{
    const QVariant decoded = decodeJson(data);
    // The record read is the service's latest word on the account's key, checked as every
    // reply's key is: a local pair of another key goes, and an older report must not refuse
    // the record. Only for the login the request was sent with.
    if (decoded.typeId() != QMetaType::QVariantMap || !isSameLoginAsSent())
        return decoded;
    const QVariantMap reply = decoded.toMap();
    if (NumberReader::jsonInteger(reply.value(QStringLiteral("code"))) == 0)
        ZeroManager::sharedInstance().checkServerCipher(reply.value(QStringLiteral("cipher")));
    return decoded;
}
