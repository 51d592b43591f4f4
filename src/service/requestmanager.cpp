#include "service/requestmanager.h"

#include "platform/dispatch.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <spdlog/spdlog.h>

RequestManager::RequestManager()
    : device_token(currentDeviceToken())
    , version(appVersionString())
    , device_type(currentDeviceType())
{
}

QString RequestManager::baseURL() const
{
    QString base = ClipUserDefaults::standardUserDefaults().string(DefaultsKey::ApiBaseURL).value_or(QString()).trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.isEmpty() ? QString(kBuiltinApiBaseURL) : base;
}

QString RequestManager::methodURL() const
{
    return {};
}

QString RequestManager::combinURL() const
{
    QString text = methodURL() + QStringLiteral("?device_type=") + device_type + QStringLiteral("&device_token=")
                   + device_token + QStringLiteral("&version=") + version + QStringLiteral("&encrypt=1");
    // One snapshot: a key installed between two reads would pair one key's hash with another's wrap.
    if (const auto hashes = ZeroManager::sharedInstance().currentHashes())
        text += QStringLiteral("&key_hash=") + hashes->keyHash + QStringLiteral("&cipher_hash=") + hashes->cipherHash;
    return text;
}

std::optional<QString> RequestManager::user_token() const
{
    return ConfigureManager::sharedInstance().loginUserToken();
}

bool RequestManager::isContinueRequest() const
{
    return ConfigureManager::sharedInstance().isLogined();
}

void RequestManager::genPostData() {}

QVariant RequestManager::parse(const QByteArray& data)
{
    Q_UNUSED(data);
    return {};
}

HttpSession& RequestManager::sharedSession()
{
    static HttpSession session(QStringLiteral("data manager"));
    return session;
}

namespace {

// The request object (when given) lives until its completion has run: completions may read
// the object that sent them.
void callBack(const RequestManager::Completion& completion, const QVariant& result, int status,
              const std::optional<RequestError>& error, std::shared_ptr<RequestManager> keepAlive = {})
{
    if (!completion)
        return;
    dispatch::mainAsync([completion, result, status, error, keepAlive = std::move(keepAlive)] {
        completion(result, status, error);
    });
}

}  // namespace

void RequestManager::request(Completion completion)
{
    std::shared_ptr<RequestManager> self = weak_from_this().lock();
    if (!isContinueRequest()) {
        callBack(completion, {}, kNoStatus, std::nullopt, self);
        return;
    }
    if (!self) {
        spdlog::error("request object not owned by a shared pointer; not sent");
        callBack(completion, {}, kNoStatus, std::nullopt);
        return;
    }
    m_sentUserToken = user_token();
    m_sentLoginEpoch = ConfigureManager::sharedInstance().loginEpoch();
    genPostData();
    const QString text = percentUnescape(combinURL());
    const QUrl url(text);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        || url.host().isEmpty()) {
        spdlog::error("request URL is not usable: {}", withoutToken(text, m_sentUserToken).toStdString());
        callBack(completion, {}, kNoStatus, RequestError{QString(kBadURLErrorDomain), -1, {}}, self);
        return;
    }
    const QByteArray body = httpBodyData;
    sharedSession().dataTask(httpMethod, url, body,
                             body.isEmpty() ? QByteArray() : QByteArrayLiteral("application/json"),
                             [self, completion = std::move(completion)](const HttpSession::Reply& reply) {
                                 if (reply.error) {
                                     callBack(completion, {}, reply.status, reply.error, self);
                                 } else if (!reply.body.isEmpty()) {
                                     const QVariant result = self->parse(reply.body);
                                     callBack(completion, result, reply.status, std::nullopt, self);
                                 } else {
                                     callBack(completion, {}, reply.status,
                                              RequestError{QString(kEmptyReplyErrorDomain), 0, {}}, self);
                                 }
                             });
}

QString RequestManager::withoutToken(QString text, const std::optional<QString>& token)
{
    // The login token opens the account: it never goes into a log file.
    if (token && !token->isEmpty())
        text.replace(*token, QStringLiteral("<token>"));
    return text;
}

QString RequestManager::tokenParameter() const
{
    const auto token = user_token();
    if (!token)
        return {};
    return QStringLiteral("&user_token=") + *token;
}

QString TokenRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + tokenParameter());
}

bool RequestManager::isSameLoginAsSent() const
{
    return ConfigureManager::sharedInstance().loginUserToken() == m_sentUserToken;
}

QString RequestManager::percentEscape(const QString& text)
{
    static const QByteArray kept = QByteArrayLiteral("!#$&'()*+,-./:;=?@[]_~");
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size());
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                           || (c != 0 && kept.contains(ch));
        if (plain)
            out.append(QLatin1Char(ch));
        else
            out.append(QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper());
    }
    return out;
}

QString RequestManager::percentUnescape(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

QVariant RequestManager::decodeJson(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    if (document.isObject())
        return document.object().toVariantMap();
    if (document.isArray())
        return document.array().toVariantList();
    return {};
}

QVariant RequestManager::decodeJsonObject(const QByteArray& data)
{
    const QVariant decoded = decodeJson(data);
    return decoded.typeId() == QMetaType::QVariantMap ? decoded : QVariant();
}
