#include "service/httpsession.h"

#include "service/urlpolicy.h"

#include <QFile>
#include <QHash>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

class HttpSession::Impl {
public:
    QNetworkAccessManager* manager()
    {
        if (!m_manager)
            m_manager = std::make_unique<QNetworkAccessManager>();
        return m_manager.get();
    }

    void shutDown()
    {
        // Handlers of transfers still running must not run once the session is going away.
        for (QNetworkReply* reply : std::as_const(m_replies)) {
            reply->disconnect();
            reply->abort();
            reply->deleteLater();
        }
        m_replies.clear();
        m_manager.reset();
    }

    QHash<TaskId, QNetworkReply*> m_replies;

private:
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

// What ends a transfer early; lives with the transfer's handlers on the session's queue.
struct HttpSession::Guard {
    qint64 maxBytes = 0;
    std::optional<RequestError> refusal;

    // Ends the transfer; its finished handler reports the refusal.
    void refuse(QNetworkReply* reply, LimitError code, const QString& description)
    {
        if (refusal)
            return;
        refusal = RequestError{QString(kLimitErrorDomain), code, {{QStringLiteral("description"), description}}};
        reply->abort();
    }
    void checkSize(QNetworkReply* reply, qint64 bytes)
    {
        if (bytes > maxBytes)
            refuse(reply, ReplyTooLarge, QStringLiteral("the reply is larger than %1 bytes").arg(maxBytes));
    }
};

namespace {

HttpSession::Reply replyOutcome(QNetworkReply* reply, QByteArray body)
{
    HttpSession::Reply out;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        out.status = status.toInt();
    if (out.status != HttpSession::kNoStatus && (out.status < 200 || out.status > 299)) {
        out.error = RequestError{QString(HttpSession::kHttpStatusErrorDomain), out.status,
                                 {{QStringLiteral("description"),
                                   reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()}}};
    } else if (reply->error() != QNetworkReply::NoError) {
        out.error = RequestError{QString(HttpSession::kTransportErrorDomain), static_cast<int>(reply->error()),
                                 {{QStringLiteral("description"), reply->errorString()}}};
    }
    if (!out.error)
        out.body = std::move(body);
    return out;
}

}  // namespace

HttpSession::HttpSession(const QString& queueName)
    : m_queue(std::make_unique<SerialQueue>(queueName))
    , m_impl(std::make_unique<Impl>())
{
}

HttpSession::~HttpSession()
{
    Impl* impl = m_impl.get();
    if (m_queue->isCurrent())
        impl->shutDown();
    else
        m_queue->sync([impl] { impl->shutDown(); });
    // Everything queued before has run. A queued quit is not delivered once the application
    // object is gone (a session that lives until exit), so the loop is told directly.
    if (!m_queue->isCurrent())
        m_queue->thread()->quit();
    m_queue.reset();
}

QNetworkRequest HttpSession::prepare(const QUrl& url) const
{
    QNetworkRequest request(url);
    std::lock_guard lock(m_mutex);
    request.setTransferTimeout(static_cast<int>(m_timeout.count()));
    // Each redirect is judged by guard().
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (!m_extraCas.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_extraCas);
        request.setSslConfiguration(ssl);
    }
    return request;
}

// The outcome of a data task or form post: a refused transfer reports its refusal, and a
// body over the cap (one the progress reports missed) counts as one.
HttpSession::Reply HttpSession::limitedOutcome(QNetworkReply* reply, Guard& limits)
{
    QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (!limits.refusal && body.size() > limits.maxBytes)
        limits.refusal = RequestError{QString(HttpSession::kLimitErrorDomain), HttpSession::ReplyTooLarge, {}};
    HttpSession::Reply outcome = replyOutcome(reply, std::move(body));
    if (limits.refusal) {
        outcome.error = limits.refusal;
        outcome.body.clear();
    }
    return outcome;
}

std::shared_ptr<HttpSession::Guard> HttpSession::guard(QNetworkReply* reply, const QUrl& origin) const
{
    auto guard = std::make_shared<Guard>();
    std::chrono::milliseconds deadline;
    {
        std::lock_guard lock(m_mutex);
        deadline = m_deadline;
        guard->maxBytes = m_maxReplySize;
    }
    // The transfer timeout restarts with every byte; this one does not.
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [guard, reply, deadline] {
        guard->refuse(reply, DeadlinePassed, QStringLiteral("no answer within %1 ms").arg(deadline.count()));
    });
    timer->start(deadline);
    QObject::connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    // A redirect elsewhere would carry the request (an upload form, a token in the query)
    // around the checks made on the address it was sent to.
    QObject::connect(reply, &QNetworkReply::redirected, reply, [guard, reply, origin](const QUrl& target) {
        const QUrl absolute = target.isRelative() ? reply->url().resolved(target) : target;
        if (UrlPolicy::isSameOrigin(origin, absolute))
            emit reply->redirectAllowed();
        else
            guard->refuse(reply, RedirectRefused, QStringLiteral("redirect to another origin refused"));
    });
    // The announced length or the bytes so far.
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [guard, reply](qint64 received, qint64 total) {
        guard->checkSize(reply, std::max(received, total));
    });
    return guard;
}

void HttpSession::finished(TaskId id)
{
    m_impl->m_replies.remove(id);
    std::lock_guard lock(m_mutex);
    m_running.removeIf([id](const auto& entry) { return entry.first == id; });
}

HttpSession::TaskId HttpSession::start(const QUrl& url, std::function<void(Impl&, TaskId)> starter)
{
    TaskId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_running.append({id, url});
    }
    Impl* impl = m_impl.get();
    m_queue->async([impl, id, starter = std::move(starter)] { starter(*impl, id); });
    return id;
}

HttpSession::TaskId HttpSession::dataTask(const QString& method, const QUrl& url, const QByteArray& body,
                                          const QByteArray& contentType, ReplyHandler handler)
{
    QNetworkRequest request = prepare(url);
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);

    const QByteArray verb = method.toLatin1();
    return start(url, [this, request, verb, body, handler = std::move(handler)](Impl& impl, TaskId id) {
        // A POST or PUT states its length even when empty; servers answer one without it
        // with 411 or wait for a body that never comes.
        const bool bodyMethod = verb == "POST" || verb == "PUT" || verb == "PATCH";
        QNetworkReply* reply = body.isEmpty() && !bodyMethod ? impl.manager()->sendCustomRequest(request, verb)
                                                             : impl.manager()->sendCustomRequest(request, verb, body);
        impl.m_replies.insert(id, reply);
        auto limits = guard(reply, request.url());
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, id, reply, handler, limits] {
            finished(id);
            const Reply outcome = limitedOutcome(reply, *limits);
            reply->deleteLater();
            if (handler)
                handler(outcome);
        });
    });
}

HttpSession::TaskId HttpSession::jsonTask(const QString& method, const QUrl& url, const QByteArray& body,
                                          ReplyHandler handler)
{
    return dataTask(method, url, body, QByteArrayLiteral("application/json"), std::move(handler));
}

HttpSession::TaskId HttpSession::formPost(const QUrl& url, const QList<FormField>& fields, const FormFile& file,
                                          ReplyHandler handler)
{
    QNetworkRequest request = prepare(url);
    return start(url, [this, request, fields, file, handler = std::move(handler)](Impl& impl, TaskId id) {
        auto* body = new QFile(file.path);
        if (!body->open(QIODevice::ReadOnly)) {
            delete body;
            finished(id);
            if (handler)
                handler(Reply{kNoStatus, {},
                              RequestError{QString(kTransportErrorDomain),
                                           static_cast<int>(QNetworkReply::ContentNotFoundError),
                                           {{QStringLiteral("description"),
                                             QStringLiteral("cannot read %1").arg(file.path)}}}});
            return;
        }
        auto* multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        body->setParent(multiPart);
        for (const FormField& field : fields) {
            QHttpPart part;
            part.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"%1\"").arg(field.name));
            part.setBody(field.value);
            multiPart->append(part);
        }
        QHttpPart filePart;
        filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(file.name, file.fileName));
        if (!file.contentType.isEmpty())
            filePart.setHeader(QNetworkRequest::ContentTypeHeader, file.contentType);
        filePart.setBodyDevice(body);
        multiPart->append(filePart);

        QNetworkReply* reply = impl.manager()->post(request, multiPart);
        multiPart->setParent(reply);
        impl.m_replies.insert(id, reply);
        auto limits = guard(reply, request.url());
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, id, reply, handler, limits] {
            finished(id);
            const Reply outcome = limitedOutcome(reply, *limits);
            reply->deleteLater();
            if (handler)
                handler(outcome);
        });
    });
}

HttpSession::TaskId HttpSession::download(const QUrl& url, const QString& destination, ProgressHandler progress,
                                          ReplyHandler handler)
{
    QNetworkRequest request = prepare(url);
    return start(url, [this, request, destination, progress = std::move(progress),
                  handler = std::move(handler)](Impl& impl, TaskId id) {
        QNetworkReply* reply = impl.manager()->get(request);
        impl.m_replies.insert(id, reply);
        auto limits = guard(reply, request.url());
        // Written as it arrives; the destination appears only when the whole body is in.
        auto file = std::make_shared<QSaveFile>(destination);
        auto writeFailed = std::make_shared<bool>(!file->open(QIODevice::WriteOnly));
        auto written = std::make_shared<qint64>(0);
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, file, writeFailed, written, limits] {
            const QByteArray chunk = reply->readAll();
            *written += chunk.size();
            limits->checkSize(reply, *written);
            if (limits->refusal)
                return;
            if (!*writeFailed && file->write(chunk) != chunk.size())
                *writeFailed = true;
        });
        if (progress)
            QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                             [progress](qint64 received, qint64 total) { progress(received, total); });
        QObject::connect(reply, &QNetworkReply::finished, reply,
                         [this, id, reply, handler, file, writeFailed, written, limits, destination] {
                             finished(id);
                             const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
                             *written += rest.size();
                             if (*written > limits->maxBytes && !limits->refusal)
                                 limits->refusal = RequestError{QString(kLimitErrorDomain), ReplyTooLarge, {}};
                             if (!limits->refusal && !*writeFailed && file->write(rest) != rest.size())
                                 *writeFailed = true;
                             Reply outcome = replyOutcome(reply, {});
                             if (limits->refusal)
                                 outcome.error = limits->refusal;
                             if (outcome.error) {
                                 file->cancelWriting();
                                 file->commit();
                             } else if (*writeFailed || !file->commit()) {
                                 outcome.error = RequestError{
                                     QString(kTransportErrorDomain), static_cast<int>(QNetworkReply::UnknownContentError),
                                     {{QStringLiteral("description"), QStringLiteral("cannot write %1").arg(destination)}}};
                             }
                             reply->deleteLater();
                             if (handler)
                                 handler(outcome);
                         });
    });
}

void HttpSession::cancel(TaskId id)
{
    Impl* impl = m_impl.get();
    m_queue->async([impl, id] {
        if (QNetworkReply* reply = impl->m_replies.value(id))
            reply->abort();
    });
}

bool HttpSession::hasRunningTask(const QUrl& url) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_running) {
        if (entry.second == url)
            return true;
    }
    return false;
}

void HttpSession::setTransferTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard lock(m_mutex);
    m_timeout = timeout;
}

std::chrono::milliseconds HttpSession::transferTimeout() const
{
    std::lock_guard lock(m_mutex);
    return m_timeout;
}

void HttpSession::setDeadline(std::chrono::milliseconds deadline)
{
    std::lock_guard lock(m_mutex);
    m_deadline = deadline;
}

std::chrono::milliseconds HttpSession::deadline() const
{
    std::lock_guard lock(m_mutex);
    return m_deadline;
}

void HttpSession::setMaxReplySize(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_maxReplySize = bytes;
}

qint64 HttpSession::maxReplySize() const
{
    std::lock_guard lock(m_mutex);
    return m_maxReplySize;
}

void HttpSession::addCaCertificates(const QList<QSslCertificate>& certificates)
{
    {
        std::lock_guard lock(m_mutex);
        m_extraCas.append(certificates);
    }
    dropIdleConnections();
}

void HttpSession::clearAddedCaCertificates()
{
    {
        std::lock_guard lock(m_mutex);
        m_extraCas.clear();
    }
    dropIdleConnections();
}

void HttpSession::dropIdleConnections()
{
    // Connections already open keep the trust they were made with.
    Impl* impl = m_impl.get();
    m_queue->async([impl] { impl->manager()->clearConnectionCache(); });
}
