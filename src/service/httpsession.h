#pragma once

#include "platform/dispatch.h"
#include "service/requesterror.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

class QNetworkReply;
class QNetworkRequest;

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// An HTTP session of its own with a named completion queue: one SerialQueue thread owning
// one QNetworkAccessManager. Every transfer starts and completes on that queue, so its
// handler runs there too; handlers that report to the user interface dispatch to the main
// queue themselves.
//
// Every transfer ends and is bounded: a transfer timeout (60 s without a byte) ends a dead
// server, an overall deadline ends one that trickles, and a reply body larger than the
// session's cap is cut off (a download then leaves no file). A redirect is followed only
// within the origin (scheme, host, port) the transfer was started with. Certificates are
// always verified; a CA can be added to the trusted ones, never an error ignored.
//
// A reply whose HTTP status lies outside 200-299 is reported as an error of domain
// kHttpStatusErrorDomain with the status as code; a transfer that fails without an HTTP
// status (refused, unreachable, TLS refused, timed out, cancelled) as kTransportErrorDomain
// with QNetworkReply's error number as code; one ended by the session's own limits as
// kLimitErrorDomain with a LimitError as code. The status is kNoStatus without a response.
class HttpSession {
public:
    static constexpr int kNoStatus = -999;
    static constexpr std::chrono::milliseconds kDefaultTransferTimeout{60000};
    // The whole transfer, however steadily its bytes come.
    static constexpr std::chrono::milliseconds kDefaultDeadline{5 * 60 * 1000};
    // The largest reply body (JSON replies); sessions that fetch clip bodies or packages set
    // their own cap.
    static constexpr qint64 kDefaultMaxReplySize = qint64(64) * 1024 * 1024;
    static constexpr QLatin1String kHttpStatusErrorDomain{"com.nuvarel.http"};
    static constexpr QLatin1String kTransportErrorDomain{"com.nuvarel.network"};
    static constexpr QLatin1String kLimitErrorDomain{"com.nuvarel.transfer"};
    enum LimitError { DeadlinePassed = 1, ReplyTooLarge = 2, RedirectRefused = 3 };

    using TaskId = quint64;

    struct Reply {
        int status = kNoStatus;
        QByteArray body;
        std::optional<RequestError> error;
    };
    // Runs on the session's queue.
    using ReplyHandler = std::function<void(const Reply& reply)>;
    // Bytes received so far and the total (-1 when unknown); runs on the session's queue.
    using ProgressHandler = std::function<void(qint64 received, qint64 total)>;

    struct FormField {
        QString name;
        QByteArray value;
    };
    struct FormFile {
        QString name;          // part name
        QString path;          // file whose bytes are sent
        QString fileName;      // file name given in the part
        QString contentType;   // e.g. "application/octet-stream"
    };

    // Starts the queue thread; the network manager is made on it.
    explicit HttpSession(const QString& queueName);
    // Cancels what is still running (its handlers are not called) and stops the queue.
    ~HttpSession();

    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    SerialQueue& queue() { return *m_queue; }

    // A data request with any method; the body is sent when not empty, with the content type
    // when one is given.
    TaskId dataTask(const QString& method, const QUrl& url, const QByteArray& body,
                    const QByteArray& contentType, ReplyHandler handler);
    // dataTask with "Content-Type: application/json".
    TaskId jsonTask(const QString& method, const QUrl& url, const QByteArray& body, ReplyHandler handler);
    // A multipart/form-data POST: the text fields in the order given, then the file part.
    // A file that cannot be opened ends at once with a transport error (no request is sent).
    TaskId formPost(const QUrl& url, const QList<FormField>& fields, const FormFile& file, ReplyHandler handler);
    // A GET whose body is written to the destination file (replaced on success only; a
    // failed download leaves no destination file). The reply's body is empty.
    TaskId download(const QUrl& url, const QString& destination, ProgressHandler progress, ReplyHandler handler);

    // Aborts a running transfer; its handler runs with a transport error. Unknown ids are ignored.
    void cancel(TaskId id);
    // Whether a transfer started with this exact URL is still running.
    bool hasRunningTask(const QUrl& url) const;

    // Applies to transfers started afterwards.
    void setTransferTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds transferTimeout() const;
    // Apply to transfers started afterwards.
    void setDeadline(std::chrono::milliseconds deadline);
    std::chrono::milliseconds deadline() const;
    void setMaxReplySize(qint64 bytes);
    qint64 maxReplySize() const;
    // Adds a CA to the ones trusted for this session's HTTPS transfers (a test's own CA).
    void addCaCertificates(const QList<QSslCertificate>& certificates);
    // Back to the system's CAs only.
    void clearAddedCaCertificates();

private:
    class Impl;
    struct Guard;
    TaskId start(const QUrl& url, std::function<void(Impl&, TaskId)> starter);
    // The limits of a transfer just started: deadline, size cap and redirect rule.
    std::shared_ptr<Guard> guard(QNetworkReply* reply, const QUrl& origin) const;
    static Reply limitedOutcome(QNetworkReply* reply, Guard& limits);
    QNetworkRequest prepare(const QUrl& url) const;
    void dropIdleConnections();
    // On the queue, when a transfer has ended.
    void finished(TaskId id);

    std::unique_ptr<SerialQueue> m_queue;
    std::unique_ptr<Impl> m_impl;  // used on the queue only
    mutable std::mutex m_mutex;    // guards the fields below
    std::chrono::milliseconds m_timeout = kDefaultTransferTimeout;
    std::chrono::milliseconds m_deadline = kDefaultDeadline;
    qint64 m_maxReplySize = kDefaultMaxReplySize;
    QList<QSslCertificate> m_extraCas;
    QList<std::pair<TaskId, QUrl>> m_running;
    TaskId m_nextId = 1;
};
