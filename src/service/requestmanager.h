#pragma once

#include "service/requesterror.h"

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class HttpSession;

// Base of every call to the web API. A caller makes a request object with std::make_shared
// for each call (or keeps one and re-sends it), sets its properties and calls request(); the
// outcome arrives once through the completion, on the main queue.
//
// request() runs on the caller's thread: isContinueRequest, genPostData and combinURL are
// asked there, the URL is combinURL with its percent escapes removed once, and the request
// goes out through the one shared session ("data manager"). On that session's queue the
// reply is judged and, for a 2xx reply with a body, parse() runs there (so its side effects
// on settings and the account happen there); the completion then runs on the main queue.
// The session keeps the request object alive until its completion has run; send an object
// again only after that.
class RequestManager : public std::enable_shared_from_this<RequestManager> {
public:
    // (parsed result or an invalid QVariant, HTTP status or kNoStatus, error or nothing)
    using Completion =
        std::function<void(const QVariant& result, int status, const std::optional<RequestError>& error)>;

    // The status when there was no HTTP response or nothing was sent.
    static constexpr int kNoStatus = -999;
    // The error of a 2xx reply with an empty body (code 0, no details).
    static constexpr QLatin1String kEmptyReplyErrorDomain{"com.brindlecove"};
    // The error of a request whose URL text is not a usable http(s) URL (code -1).
    static constexpr QLatin1String kBadURLErrorDomain{"com.nuvarel.request"};
    // The API base used while the "apiBaseURL" setting is absent.
    static constexpr QLatin1String kBuiltinApiBaseURL{"https://api.nuvarel.app"};

    RequestManager();
    virtual ~RequestManager() = default;

    RequestManager(const RequestManager&) = delete;
    RequestManager& operator=(const RequestManager&) = delete;

    // The "apiBaseURL" setting (scheme, host and port) without a trailing slash, or the
    // built-in base.
    virtual QString baseURL() const;
    // baseURL and the request's path ("/init/"); empty in the base class.
    virtual QString methodURL() const;
    // methodURL, then "?device_type=", "&device_token=", "&version=", "&encrypt=1", and
    // "&key_hash=" / "&cipher_hash=" when the key manager holds those records. Values are
    // inserted as they are. Subclasses with parameters append them and return the text
    // through percentEscape.
    virtual QString combinURL() const;
    // The login token at the moment of asking; nothing when logged out.
    virtual std::optional<QString> user_token() const;
    // Whether the request may be sent now. Base: a user is logged in.
    virtual bool isContinueRequest() const;
    // Sets httpBodyData for requests that have a body.
    virtual void genPostData();
    // Sends the request; see the class comment. Refused (isContinueRequest false): nothing is
    // sent and the completion gets (nothing, kNoStatus, no error). A request object not owned
    // by a std::shared_ptr cannot be kept alive while in flight: it is refused the same way.
    virtual void request(Completion completion);
    // The result for a 2xx reply body, on the "data manager" queue; invalid for none.
    virtual QVariant parse(const QByteArray& data);

    QString device_token;
    QString version;
    QString device_type;
    QString httpMethod = QStringLiteral("GET");
    QByteArray httpBodyData;

    // The legacy URL escaping: every UTF-8 byte outside the characters a URL allows ("%"
    // included) becomes %XX. percentUnescape removes one level of escapes, so the two
    // cancel out.
    static QString percentEscape(const QString& text);
    static QString percentUnescape(const QString& text);
    // The text with every occurrence of the token replaced, for log lines.
    static QString withoutToken(QString text, const std::optional<QString>& token);

    // The session every request object shares; its queue is "data manager".
    static HttpSession& sharedSession();

protected:
    // "&user_token=" and the login token; empty when logged out.
    QString tokenParameter() const;
    // The login token when the request was sent.
    const std::optional<QString>& sentUserToken() const { return m_sentUserToken; }
    // Whether the login the request was sent for is still the current one (same token, or
    // still logged out). A reply for a login that has gone must not change the new one.
    bool isSameLoginAsSent() const;
    // The login epoch when the request was sent (ConfigureManager::loginEpoch).
    quint64 sentLoginEpoch() const { return m_sentLoginEpoch; }

    // The decoded JSON reply: a QVariantMap for an object, a QVariantList for an array;
    // invalid for anything else.
    static QVariant decodeJson(const QByteArray& data);
    // The decoded reply when it is a JSON object; invalid otherwise.
    static QVariant decodeJsonObject(const QByteArray& data);

private:
    std::optional<QString> m_sentUserToken;
    quint64 m_sentLoginEpoch = 0;
};

// A request whose query is the common one and the login token, nothing more: the key, clip
// and favourite requests.
class TokenRequestManager : public RequestManager {
public:
    // The common query and "&user_token=" with the login token, percent-escaped.
    QString combinURL() const override;
};
