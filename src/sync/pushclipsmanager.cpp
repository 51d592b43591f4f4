#include "sync/pushclipsmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipbodylimit.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/tombstones.h"
#include "store/utils.h"
#include "sync/historyservice.h"
#include "sync/replylogin.h"
#include "sync/replyverdict.h"
#include "sync/serverclip.h"
#include "sync/stepanswer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <limits>

#include <spdlog/spdlog.h>

namespace {

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
    if (ClipBodyLimit::tooLarge(clip->file_size().toDouble()))
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
    const QString userId = ConfigureManager::sharedInstance().loginUserId().value_or(QString());
    send("POST", pushURL(), historyBody(history),
         [this, hash, category, epoch, userId, callback = std::move(callback)](
             const QByteArray& body, const std::optional<RequestError>& transportError) mutable {
             // Waiters for this post run once its reply has been applied.
             const Flights::Landing landing(m_posts, hash);
             ReplyLogin::Scope scope(epoch);
             const ReplyVerdict::Verdict verdict = ReplyVerdict::ofJson(ReplyVerdict::Request::Post, body, transportError);
             const auto& reply = verdict.reply;
             auto failure = [&](qint64 errorCode, const StepOutcome& outcome) {
                 RequestError error{serverErrorDomain(), int(errorCode), reply ? reply->toVariantMap() : QVariantMap()};
                 StepAnswer::onMain(callback, {}, error, outcome);
             };
             if (verdict.outcome.kind != StepOutcome::Kind::Sent)
                 return failure(reply ? NumberReader::jsonIntegerOrZero(reply->value(u"code").toVariant()) : 0,
                                verdict.outcome);

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
                 // Deleted here while the post was on its way: the post made it on the server, so
                 // the tombstone learns the id and the history worker deletes it there too, or
                 // other devices keep it and the next pull brings it back.
                 spdlog::info("push: {} was deleted while its post was in flight", hash.toStdString());
                 if (Tombstones::adoptId(hash, *server->historyId, userId, true))
                     dispatch::mainAsync([] { HistoryService::sharedInstance().next(); });
                 else
                     spdlog::warn("push: no tombstone for {}: the server keeps it", hash.toStdString());
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
    // A favourite travels by the set-favourite request; a put carries only an unfavouring,
    // so a re-copy never lowers a favourite another device made.
    if (NumberReader::wholeNumber(clip->favourite()).value_or(0) >= 0)
        history.remove(QStringLiteral("favourite"));
    const QString hash = *clip->file_hash();
    const quint64 epoch = ReplyLogin::current();
    send("PUT", pushURL(), historyBody(history),
         [hash, epoch, callback = std::move(callback)](const QByteArray& body,
                                                       const std::optional<RequestError>& error) mutable {
             ReplyLogin::Scope scope(epoch);
             const ReplyVerdict::Verdict verdict = ReplyVerdict::ofJson(ReplyVerdict::Request::Put, body, error);
             if (verdict.gone)
                 DBKeeper::setLocalHistoryOnly(hash);
             StepAnswer::onMain(callback, body, error, verdict.outcome);
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
    if (!clip || !clip->file_hash())
        return;
    // Here at once; the service is owed the delete through the clip's tombstone, which the
    // history worker sends as it sends any pending change (also when the key or the network
    // comes later). The row is read as it is now, not as the caller's copy has it.
    const std::optional<QString> userId =
        ConfigureManager::sharedInstance().isLogined() ? ConfigureManager::sharedInstance().loginUserId() : std::nullopt;
    dispatch::mainAsync([clip, userId, callback = std::move(callback)] {
        if (!Tombstones::deleteClip(*clip->file_hash(), userId)) {
            spdlog::warn("push: delete of {} failed; the clip is kept", clip->file_hash()->toStdString());
            if (callback)
                callback(QVariant(), std::nullopt);
            return;
        }
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
        NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
        if (userId)
            HistoryService::sharedInstance().process();
        if (callback)
            callback(QVariant(), std::nullopt);
    });
}

void PushClipsManager::deleteOnServer(const QString& fileHash, qint64 historyId, OutcomeCallback callback)
{
    if (!isValidFileHash(fileHash) || historyId <= 0)
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::unsendable());
    if (!isContinueRequest())
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::noKey());
    if (!m_deletes.begin(fileHash))
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::inFlight());
    const quint64 epoch = ReplyLogin::current();
    send("DELETE", pushURL() + QStringLiteral("&history_id=") + QString::number(historyId), {},
         [this, fileHash, epoch, callback = std::move(callback)](const QByteArray& body,
                                                                 const std::optional<RequestError>& error) mutable {
             // Waiters for this delete run once its answer has been handed on.
             const Flights::Landing landing(m_deletes, fileHash);
             ReplyLogin::Scope scope(epoch);
             // -10 counts as done: the service no longer has that clip under this id.
             const ReplyVerdict::Verdict verdict = ReplyVerdict::ofJson(ReplyVerdict::Request::Delete, body, error);
             if (verdict.gone)
                 spdlog::info("push: server delete of {}: the service no longer has it", fileHash.toStdString());
             StepAnswer::onMain(callback, verdict.reply ? verdict.reply->toVariantMap() : QVariant(), error,
                                verdict.outcome);
         });
}

int PushClipsManager::sendOwedDeletes()
{
    const std::optional<QString> userId = ConfigureManager::sharedInstance().loginUserId();
    if (!isContinueRequest() || !userId || userId->isEmpty())
        return 0;
    int sent = 0;
    for (const Tombstone& owed : Tombstones::owedBy(*userId)) {
        if (!isValidFileHash(owed.fileHash) || !m_deletes.begin(owed.fileHash))
            continue;
        send("DELETE", pushURL() + QStringLiteral("&history_id=") + QString::number(owed.historyId), {},
             [this, hash = owed.fileHash](const QByteArray& body, const std::optional<RequestError>& error) {
                 const Flights::Landing landing(m_deletes, hash);
                 // The tombstone is gone with the logout: the answer is only logged. A delete
                 // that did not go through leaves the clip on the service.
                 const ReplyVerdict::Verdict verdict = ReplyVerdict::ofJson(ReplyVerdict::Request::Delete, body, error);
                 if (verdict.outcome.kind != StepOutcome::Kind::Sent)
                     spdlog::warn("push: the delete of {} owed at logout did not go through; the service keeps it",
                                  hash.toStdString());
             });
        ++sent;
    }
    if (sent > 0)
        spdlog::info("push: {} owed delete(s) sent before the logout", sent);
    return sent;
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
    return m_deletes.contains(fileHash);
}

void PushClipsManager::afterDelete(const QString& fileHash, std::function<void()> then)
{
    m_deletes.after(fileHash, std::move(then));
}

QString PushClipsManager::pushURL() const
{
    return percentUnescape(combinURL());
}

void PushClipsManager::send(const QByteArray& verb, const QString& url, const QByteArray& body, ReplyHandler handler)
{
    // The token the URL carries: a reply saying it no longer holds ends that login only.
    const std::optional<QString> sentToken = user_token();
    auto done = [handler = std::move(handler), sentToken](const HttpSession::Reply& reply) {
        // A reply outside 200-299 is an error, and its body is not the server's answer.
        const QByteArray answer = reply.error ? QByteArray() : reply.body;
        ReplyVerdict::endLoginIfSaid(answer, sentToken);
        handler(answer, reply.error);
    };
    if (body.isEmpty())
        m_session->dataTask(QString::fromLatin1(verb), QUrl(url), {}, {}, std::move(done));
    else
        m_session->jsonTask(QString::fromLatin1(verb), QUrl(url), body, std::move(done));
}
