#include "sync/setfavouriterequestmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/notificationnames.h"
#include "sync/replylogin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QUrl>

namespace {

// The server no longer has the clip.
constexpr int kGoneCode = -4;

void answer(const SetFavouriteRequestManager::Callback& callback, const HistoryModelPtr& result,
            const std::optional<RequestError>& error)
{
    if (!callback)
        return;
    dispatch::mainAsync([callback, result, error] { callback(result, error); });
}

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
    : m_session(std::make_unique<HttpSession>(QStringLiteral("set favourite")))
{
}

SetFavouriteRequestManager::~SetFavouriteRequestManager() = default;

QString SetFavouriteRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/set_favourite/");
}

QString SetFavouriteRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + tokenParameter());
}

bool SetFavouriteRequestManager::isContinueRequest() const
{
    return ZeroManager::sharedInstance().state() != 0 && RequestManager::isContinueRequest();
}

void SetFavouriteRequestManager::request(Completion completion)
{
    if (completion)
        completion(QVariant(), kNoStatus, std::nullopt);
}

bool SetFavouriteRequestManager::isInFlight(const QString& fileHash) const
{
    QMutexLocker lock(&m_tasksMutex);
    return favouriteTask.contains(fileHash);
}

void SetFavouriteRequestManager::setFavourite(const HistoryModelPtr& clip, Callback callback)
{
    if (!clip || !clip->file_hash() || !isContinueRequest())
        return answer(callback, nullptr, std::nullopt);
    // Secret clips never leave the machine; a clip the server does not know goes by the post.
    if (clip->secert().toBool() || valueOf(clip->history_id()) <= 0)
        return answer(callback, nullptr, std::nullopt);
    if (float(clip->file_size().toDouble()) > float(kMaxFileSize))
        return answer(callback, nullptr, std::nullopt);
    const QString hash = *clip->file_hash();
    {
        QMutexLocker lock(&m_tasksMutex);
        if (favouriteTask.contains(hash)) {
            lock.unlock();
            return answer(callback, nullptr, std::nullopt);
        }
        favouriteTask.insert(hash, clip);
    }
    QJsonObject history = clip->toDictionary();
    history.remove(QStringLiteral("content"));
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("history"), history}}).toJson(QJsonDocument::Compact);
    const quint64 epoch = ReplyLogin::current();
    m_session->jsonTask(QStringLiteral("POST"), QUrl(percentUnescape(combinURL())), body,
                        [this, clip, epoch, callback = std::move(callback)](const HttpSession::Reply& reply) {
                            ReplyLogin::Scope scope(epoch);
                            handleReply(clip, reply.error ? QByteArray() : reply.body, reply.error, callback);
                        });
}

void SetFavouriteRequestManager::handleReply(const HistoryModelPtr& clip, const QByteArray& body,
                                             const std::optional<RequestError>& error, Callback callback)
{
    const QString hash = *clip->file_hash();
    {
        QMutexLocker lock(&m_tasksMutex);
        favouriteTask.remove(hash);
    }
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonObject reply = doc.isObject() ? doc.object() : QJsonObject();
    const qint64 code = doc.isObject() ? NumberReader::jsonIntegerOrZero(reply.value(QStringLiteral("code")).toVariant()) : 0;
    if (doc.isObject() && code == 0) {
        const HistoryModelPtr server =
            HistoryModel::initWithDictionary(reply.value(QStringLiteral("history")).toObject());
        auto local = std::make_shared<HistoryModel>();
        local->setFile_hash(hash);
        local->setCategory(clip->category().value_or(QString(ClipCategory::History)));
        if (server && local->isExist()) {
            local->fetch();
            local->setHistory_id(server->history_id());
            local->setFile_ready(server->file_ready());
            local->setFile_id(server->file_id());
            const qint64 s = valueOf(server->favourite());
            qint64 l = valueOf(local->favourite());
            if (std::abs(s) >= std::abs(l)) {
                if (s > 0) {
                    l = s;
                } else if (s < 0) {
                    l = 0;
                    DBKeeper::deleteClipItem(hash, QString(ClipCategory::Favourite));
                }
            }
            local->setFavourite(QVariant(l));
            DBKeeper::setFavourite(QVariant(l), hash);
            if (local->category() != QString(ClipCategory::Favourite))
                local->save();
            NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
        }
        return answer(callback, server, error);
    }
    if (code == kGoneCode) {
        // Favouriting must never make a clip vanish: it only stops being a server clip.
        DBKeeper::setLocalHistoryOnly(hash);
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    }
    answer(callback, nullptr, error);
}
