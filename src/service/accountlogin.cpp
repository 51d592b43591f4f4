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

std::optional<QString> userIdOf(const QVariant& value)
{
    // The id names the MQTT topic ("user_id_<id>") and the keychain item: only a positive
    // integer, in its plain decimal form, may do either.
    std::optional<qint64> id;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        bool ok = false;
        const qint64 parsed = text.toLongLong(&ok);
        if (ok && QString::number(parsed) == text)
            id = parsed;
    } else {
        id = NumberReader::jsonInteger(value);
    }
    if (!id || *id <= 0)
        return std::nullopt;
    return QString::number(*id);
}

std::optional<QString> tokenOf(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString token = value.toString();
    if (token.isEmpty() || token.size() > kMaxTokenChars)
        return std::nullopt;
    // It is put into every query as it is: nothing that would end or add a parameter.
    for (const QChar c : token) {
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
                             || QStringView(u"-._~+/=:").contains(c);
        if (!allowed)
            return std::nullopt;
    }
    return token;
}

bool applyReply(const QVariant& reply, const QString& email)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = reply.toMap();
    const auto code = NumberReader::jsonInteger(map.value(QStringLiteral("code")));
    if (!code || *code != 0)
        return false;
    const auto token = tokenOf(map.value(QStringLiteral("token")));
    const auto userId = userIdOf(map.value(QStringLiteral("user_id")));
    if (!token || !userId)
        return false;
    ConfigureManager::sharedInstance().setLogin(*token, *userId, email);
    return true;
}

}  // namespace AccountLogin
