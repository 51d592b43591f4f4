#include "service/accountlogin.h"

#include "platform/numberreader.h"
#include "service/serverpublickey.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"
#include "store/digest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

#include <atomic>

namespace AccountLogin {

namespace {
std::atomic<quint64> g_latest{0};
}

QByteArray body(const QString& email, const QString& password)
{
    QJsonObject object;
    object.insert(QStringLiteral("username"), email);
    if (const auto key = ServerPublicKey::stored()) {
        const auto sealed =
            ZeroManager::sharedInstance().encryptDataWithSealedPublicKey(md5HexOfString(password).toUtf8(), *key);
        if (sealed)
            object.insert(QStringLiteral("pwd_hash"), QString::fromLatin1(sealed->toBase64()));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

quint64 nextSequence()
{
    return ++g_latest;
}

bool isLatest(quint64 sequence)
{
    return sequence == g_latest.load();
}

bool applyReply(const QVariant& reply, const QString& email)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = reply.toMap();
    const auto code = NumberReader::jsonInteger(map.value(QStringLiteral("code")));
    if (!code || *code != 0)
        return false;
    const QVariant token = map.value(QStringLiteral("token"));
    if (token.typeId() != QMetaType::QString || token.toString().isEmpty())
        return false;
    // The user id names the MQTT topic and the keychain item: no login without one.
    const QVariant rawId = map.value(QStringLiteral("user_id"));
    QString userId;
    if (rawId.typeId() == QMetaType::QString)
        userId = rawId.toString();
    else if (const auto number = NumberReader::jsonInteger(rawId))
        userId = QString::number(*number);
    if (userId.isEmpty())
        return false;

    ConfigureManager& account = ConfigureManager::sharedInstance();
    account.setLoginUserToken(token.toString());
    account.setLoginUserId(userId);
    account.setLoginUserEmail(email);
    return true;
}

}  // namespace AccountLogin
