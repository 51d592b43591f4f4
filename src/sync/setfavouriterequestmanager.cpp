#include "sync/setfavouriterequestmanager.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipbodylimit.h"
#include "store/clipcategories.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/notificationnames.h"
#include "sync/replylogin.h"
#include "sync/replyverdict.h"
#include "sync/serverclip.h"
#include "sync/stepanswer.h"

#include <spdlog/spdlog.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

qint64 valueOf(const QVariant& v)
{
    return NumberReader::wholeNumber(v).value_or(0);
}

}  // namespace

SetFavouriteRequestManager& SetFavouriteRequestManager::sharedInstance()
{
    static SetFavouriteRequestManager instance;
    return instance;
}

SetFavouriteRequestManager::SetFavouriteRequestManager()
    : OwnSessionRequest(std::make_unique<HttpSession>(QStringLiteral("set favourite")))
{
}

SetFavouriteRequestManager::~SetFavouriteRequestManager() = default;

QString SetFavouriteRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/set_favourite/");
}

bool SetFavouriteRequestManager::isInFlight(const QString& fileHash) const
{
    return favouriteTask.contains(fileHash);
}

void SetFavouriteRequestManager::setFavourite(const HistoryModelPtr& clip, Callback callback)
{
    setFavourite(clip, OutcomeCallback(StepAnswer::ignoringOutcome(std::move(callback))));
}

void SetFavouriteRequestManager::afterFavourite(const QString& fileHash, std::function<void()> then)
{
    favouriteTask.after(fileHash, std::move(then));
}

void SetFavouriteRequestManager::setFavourite(const HistoryModelPtr& clip, OutcomeCallback callback)
{
    if (!clip || !clip->file_hash())
        return StepAnswer::onMain(callback, nullptr, std::nullopt, StepOutcome::unsendable());
    if (!isContinueRequest())
        return StepAnswer::onMain(callback, nullptr, std::nullopt, StepOutcome::noKey());
    // Secret clips never leave the machine; a clip the server does not know goes by the post.
    if (clip->secert().toBool() || valueOf(clip->history_id()) <= 0)
        return StepAnswer::onMain(callback, nullptr, std::nullopt, StepOutcome::unsendable());
    if (ClipBodyLimit::tooLarge(clip->file_size().toDouble()))
        return StepAnswer::onMain(callback, nullptr, std::nullopt, StepOutcome::unsendable());
    const QString hash = *clip->file_hash();
    if (!favouriteTask.begin(hash))
        return StepAnswer::onMain(callback, nullptr, std::nullopt, StepOutcome::inFlight());
    QJsonObject history = clip->toDictionary();
    history.remove(QStringLiteral("content"));
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("history"), history}}).toJson(QJsonDocument::Compact);
    const quint64 epoch = ReplyLogin::current();
    const std::optional<QString> sentToken = user_token();
    m_session->jsonTask(QStringLiteral("POST"), QUrl(percentUnescape(combinURL())), body,
                        [this, clip, epoch, sentToken, callback = std::move(callback)](const HttpSession::Reply& reply) {
                            const QByteArray answer = reply.error ? QByteArray() : reply.body;
                            ReplyVerdict::endLoginIfSaid(answer, sentToken);
                            ReplyLogin::Scope scope(epoch);
                            handleReply(clip, answer, reply.error, callback);
                        });
}

void SetFavouriteRequestManager::handleReply(const HistoryModelPtr& clip, const QByteArray& body,
                                             const std::optional<RequestError>& error, OutcomeCallback callback)
{
    const QString hash = *clip->file_hash();
    // Waiters for this hash run once the reply has been applied.
    const Flights::Landing landing(favouriteTask, hash);
    const ReplyVerdict::Verdict verdict = ReplyVerdict::ofJson(ReplyVerdict::Request::SetFavourite, body, error);
    const QJsonObject reply = verdict.reply.value_or(QJsonObject());
    if (verdict.outcome.kind == StepOutcome::Kind::Sent && !verdict.gone) {
        QJsonObject history = reply.value(QStringLiteral("history")).toObject();
        // The reply describes this clip; a missing hash is the local one, another is refused.
        if (!history.contains(u"file_hash"))
            history.insert(QStringLiteral("file_hash"), hash);
        QString reason;
        const auto server = ServerClip::fromJson(history, &reason);
        if (!server || server->fileHash != hash || !server->historyId) {
            spdlog::warn("set favourite: reply for {} refused ({})", hash.toStdString(),
                         server ? "another clip or no history_id" : reason.toStdString());
            return StepAnswer::onMain(callback, nullptr, error, StepOutcome::refused());
        }
        // Only what the server owns, only while the row exists, in one change.
        DBKeeper::ServerState state;
        state.historyId = QVariant(*server->historyId);
        if (server->fileReady)
            state.fileReady = QVariant(*server->fileReady);
        if (server->fileId)
            state.fileId = QVariant(*server->fileId);
        if (server->favourite)
            state.favourite = QVariant(*server->favourite);
        // Two decisions of the same second tie. The service's answer takes a tie only when it
        // is the value this request sent (this device's own latest choice, which the rows
        // here may not hold yet: an unfavouring waits for this answer); a value the service
        // kept instead is no later than the user's choice here, so the local one stays.
        state.favouriteTieToServer = server->favourite && *server->favourite == valueOf(clip->favourite());
        state.favouriteToEveryRow = true;
        if (DBKeeper::applyServerState(hash, clip->category().value_or(QString(ClipCategory::History)), state))
            NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
        return StepAnswer::onMain(callback, server->newRow(clip->category().value_or(QString(ClipCategory::History)), std::nullopt),
                      error, StepOutcome::sent());
    }
    if (verdict.gone) {
        // Favouriting must never make a clip vanish: it only stops being a server clip.
        DBKeeper::setLocalHistoryOnly(hash);
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
        return StepAnswer::onMain(callback, nullptr, error, StepOutcome::sent());
    }
    StepAnswer::onMain(callback, nullptr, error, verdict.outcome);
}
