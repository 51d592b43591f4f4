#include "sync/pushclipsmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/replylogin.h"
#include "sync/serverclip.h"
#include "sync/stepanswer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QUrl>

#include <limits>

#include <spdlog/spdlog.h>

namespace {

std::optional<QJsonObject> replyObject(const QByteArray& body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

// A server id to put in a URL: above 0, else nothing.
std::optional<qint64> serverIdOf(const QVariant& id)
{
    return NumberReader::idOrTime(id, 1, std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
}

QByteArray historyBody(const QJsonObject& history)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("history"), history}}).toJson(QJsonDocument::Compact);
}

}  // namespace

const QString& PushClipsManager::serverErrorDomain()
{
    static const QString domain = QStringLiteral("server errer");
    return domain;
}

PushClipsManager& PushClipsManager::sharedInstance()
{
    static PushClipsManager instance;
    return instance;
}

PushClipsManager::PushClipsManager()
    : OwnSessionRequest(std::make_unique<HttpSession>(QStringLiteral("push manager")))
{
}

PushClipsManager::~PushClipsManager() = default;

QString PushClipsManager::methodURL() const
{
    return baseURL() + QStringLiteral("/push/");
}

void PushClipsManager::Post(const HistoryModelPtr& clip, Callback callback)
{
    Post(clip, OutcomeCallback(StepAnswer::ignoringOutcome(std::move(callback))));
}

void PushClipsManager::Post(const HistoryModelPtr& clip, OutcomeCallback callback)
{
    if (!clip || !clip->file_hash())
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::unsendable());
    if (!isContinueRequest())
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::noKey());
    const QString hash = *clip->file_hash();
    if (isPosting(hash))
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::inFlight());
    if (float(clip->file_size().toDouble()) > float(kMaxFileSize))
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::unsendable());

    QJsonObject history = clip->toDictionary();
    if (ClipType::parse(clip->type()).encrypted()) {
        const auto encrypted = clip->content() ? ZeroManager::sharedInstance().encryptDataToBase64String(*clip->content())
                                               : std::nullopt;
        // No key now (the key state moved on since the gate), or a clip without content.
        if (!encrypted)
            return StepAnswer::onMain(callback, {}, std::nullopt,
                            clip->content() ? StepOutcome::noKey() : StepOutcome::unsendable());
        history.insert(QStringLiteral("key_hash"), encrypted->keyHash);
        history.insert(QStringLiteral("content"), encrypted->base64);
    }
    if (!m_posts.begin(hash))
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::inFlight());
    const QString category = clip->category().value_or(QString(ClipCategory::History));
    const quint64 epoch = ReplyLogin::current();
    send("POST", pushURL(), historyBody(history),
         [this, hash, category, epoch, callback = std::move(callback)](const QByteArray& body,
                                                                       const std::optional<RequestError>&) mutable {
             m_posts.land(hash);
             ReplyLogin::Scope scope(epoch);
             // Waiters for this post run once its reply has been applied.
             struct Ended {
                 Flights& posts;
                 QString hash;
                 ~Ended() { posts.end(hash); }
             } ended{m_posts, hash};
             const auto reply = replyObject(body);
             const qint64 code = reply ? NumberReader::jsonIntegerOrZero(reply->value(u"code").toVariant()) : 0;
             auto failure = [&](qint64 errorCode, const StepOutcome& outcome) {
                 RequestError error{serverErrorDomain(), int(errorCode), reply ? reply->toVariantMap() : QVariantMap()};
                 StepAnswer::onMain(callback, {}, error, outcome);
             };
             if (!reply)
                 return failure(0, StepOutcome::transportFailure());
             if (code != 0)
                 return failure(code, StepOutcome::refused(int(code)));

             QJsonObject history = reply->value(u"history").toObject();
             // The reply describes this clip; a missing hash is the local one, another is refused.
             if (!history.contains(u"file_hash"))
                 history.insert(QStringLiteral("file_hash"), hash);
             QString reason;
             const auto server = ServerClip::fromJson(history, &reason);
             if (!server || server->fileHash != hash || !server->historyId) {
                 spdlog::warn("push: post reply for {} refused ({})", hash.toStdString(),
                              server ? "another clip or no history_id" : reason.toStdString());
                 return failure(0, StepOutcome::refused());
             }
             DBKeeper::ServerState state = server->serverState();
             // Neither time nor name is the server's to change here.
             state.timestamp = QVariant();
             state.fileName.reset();
             if (!DBKeeper::applyServerState(hash, category, state) && ReplyLogin::holds(epoch)
                 && !DBKeeper::historyExist(hash)) {
                 // Deleted here while the post was on its way: the post made it on the server,
                 // so delete it there too, or other devices keep it and the next pull brings it back.
                 spdlog::info("push: {} was deleted while its post was in flight", hash.toStdString());
                 deleteOnServer(hash, *server->historyId);
             }
             HistoryModelPtr record = HistoryModel::initWithDictionary(history);
             StepAnswer::onMain(callback, QVariant::fromValue(record), std::nullopt, StepOutcome::sent());
         });
}

void PushClipsManager::Put(const HistoryModelPtr& clip, Callback callback)
{
    Put(clip, OutcomeCallback(StepAnswer::ignoringOutcome(std::move(callback))));
}

void PushClipsManager::Put(const HistoryModelPtr& clip, OutcomeCallback callback)
{
    if (!clip || !clip->file_hash() || !clip->history_id().isValid() || clip->history_id().isNull())
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::unsendable());
    if (!isContinueRequest())
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::noKey());
    QJsonObject history = clip->toDictionary();
    history.remove(QStringLiteral("content"));
    const QString hash = *clip->file_hash();
    const quint64 epoch = ReplyLogin::current();
    send("PUT", pushURL(), historyBody(history),
         [hash, epoch, callback = std::move(callback)](const QByteArray& body,
                                                       const std::optional<RequestError>& error) mutable {
             ReplyLogin::Scope scope(epoch);
             const auto reply = replyObject(body);
             if (reply && NumberReader::jsonIntegerOrZero(reply->value(u"code").toVariant()) == -10)
                 DBKeeper::setLocalHistoryOnly(hash);
             // Any answer with a code settles the put; without one nothing was settled.
             StepAnswer::onMain(callback, body, error,
                      reply && !error ? StepOutcome::sent() : StepOutcome::transportFailure());
         });
}

void PushClipsManager::Get(const HistoryModelPtr& clip, Callback callback)
{
    auto refuse = [&] {
        if (callback)
            dispatch::mainAsync([callback = std::move(callback)] { callback(QVariant(), std::nullopt); });
    };
    if (!clip || !isContinueRequest())
        return refuse();
    const auto id = serverIdOf(clip->history_id());
    const QString hash = clip->file_hash().value_or(QString());
    // Both come from push messages: nothing unchecked goes into the URL.
    if (!id || !isValidFileHash(hash))
        return refuse();
    const QString url = pushURL() + QStringLiteral("&history_id=") + QString::number(*id)
        + QStringLiteral("&file_hash=") + hash;
    send("GET", url, {},
         [callback = std::move(callback)](const QByteArray& body, const std::optional<RequestError>& error) mutable {
             if (callback)
                 dispatch::mainAsync([callback = std::move(callback), body, error] { callback(body, error); });
         });
}

void PushClipsManager::Del(const HistoryModelPtr& clip, Callback callback)
{
    if (!clip)
        return;
    if (!isContinueRequest())
        return deleteLocally(clip, std::move(callback));
    const QString hash = clip->file_hash().value_or(QString());
    const auto id = serverIdOf(clip->history_id());
    {
        QMutexLocker lock(&m_tasksMutex);
        if (m_deletingTasks.contains(hash)) {
            lock.unlock();
            if (callback)
                dispatch::mainAsync([callback = std::move(callback)] { callback(QVariant(), std::nullopt); });
            return;
        }
        if (id)
            m_deletingTasks.insert(hash, clip);
    }
    if (!id)
        return deleteLocally(clip, std::move(callback));
    const QString url = pushURL() + QStringLiteral("&history_id=") + QString::number(*id);
    const quint64 epoch = ReplyLogin::current();
    send("DELETE", url, {},
         [this, hash, clip, epoch, callback = std::move(callback)](const QByteArray& body,
                                                                   const std::optional<RequestError>& error) mutable {
             {
                 QMutexLocker lock(&m_tasksMutex);
                 m_deletingTasks.remove(hash);
             }
             ReplyLogin::Scope scope(epoch);
             const auto reply = replyObject(body);
             QVariant result;
             if (reply) {
                 result = reply->toVariantMap();
                 // Only when the delete ran for this login: an ended login's reply leaves the
                 // files alone (they may belong to the next login's copy of the clip).
                 if (NumberReader::jsonIntegerOrZero(reply->value(u"code").toVariant()) == 0
                     && DBKeeper::deleteClipItem(hash)) {
                     ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
                     NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
                 }
             }
             if (callback)
                 dispatch::mainAsync(
                     [callback = std::move(callback), result, error] { callback(result, error); });
         });
}

void PushClipsManager::deleteOnServer(const QString& fileHash, qint64 historyId)
{
    send("DELETE", pushURL() + QStringLiteral("&history_id=") + QString::number(historyId), {},
         [fileHash](const QByteArray& body, const std::optional<RequestError>&) {
             const auto reply = replyObject(body);
             if (!reply || NumberReader::jsonIntegerOrZero(reply->value(u"code").toVariant()) != 0)
                 spdlog::warn("push: server delete of {} failed", fileHash.toStdString());
         });
}

void PushClipsManager::deleteLocally(const HistoryModelPtr& clip, Callback callback)
{
    dispatch::mainAsync([clip, callback = std::move(callback)] {
        DBKeeper::deleteClipItem(clip->file_hash());
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
        NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
        if (callback)
            callback(QVariant(), std::nullopt);
    });
}

bool PushClipsManager::isPosting(const QString& fileHash) const
{
    return m_posts.contains(fileHash);
}

void PushClipsManager::afterPost(const QString& fileHash, std::function<void()> then)
{
    m_posts.after(fileHash, std::move(then));
}

bool PushClipsManager::isDeleting(const QString& fileHash) const
{
    QMutexLocker lock(&m_tasksMutex);
    return m_deletingTasks.contains(fileHash);
}

QString PushClipsManager::pushURL() const
{
    return percentUnescape(combinURL());
}

void PushClipsManager::send(const QByteArray& verb, const QString& url, const QByteArray& body, ReplyHandler handler)
{
    auto done = [handler = std::move(handler)](const HttpSession::Reply& reply) {
        // A reply outside 200-299 is an error, and its body is not the server's answer.
        handler(reply.error ? QByteArray() : reply.body, reply.error);
    };
    if (body.isEmpty())
        m_session->dataTask(QString::fromLatin1(verb), QUrl(url), {}, {}, std::move(done));
    else
        m_session->jsonTask(QString::fromLatin1(verb), QUrl(url), body, std::move(done));
}
