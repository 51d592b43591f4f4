#include "sync/pullclipmanager.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/clipkinds.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/historyservice.h"
#include "sync/serverclip.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>

#include <spdlog/spdlog.h>

namespace {

bool hasEncModifier(const std::optional<QString>& type)
{
    const auto modifiers = Utils::externTypeList(type);
    return modifiers && modifiers->contains(ClipKind::ModifierEnc);
}

}  // namespace

PullClipManager::PullClipManager()
    : m_loginToken(ConfigureManager::sharedInstance().loginUserToken())
{
    // A stored bookmark that is not a whole number starts the window again.
    const auto stored = NumberReader::wholeNumber(UserDefaults::standard().value(DefaultsKey::LastPullRequestTime), 0);
    last_request_timestamp = QString::number(stored.value_or(0));
}

QString PullClipManager::methodURL() const
{
    return baseURL() + QStringLiteral("/pull/");
}

QString PullClipManager::combinURL() const
{
    QString url = RequestManager::combinURL() + QStringLiteral("&user_token=")
        + ConfigureManager::sharedInstance().loginUserToken().value_or(QString())
        + QStringLiteral("&last_request_timestamp=") + last_request_timestamp;
    if (limitCount != 0)
        url += QStringLiteral("&count=") + QString::number(limitCount);
    return url;
}

bool PullClipManager::isContinueRequest() const
{
    return ConfigureManager::sharedInstance().isLogined() && ZeroManager::sharedInstance().state() != 0;
}

QVariant PullClipManager::parse(const QByteArray& data)
{
    if (ConfigureManager::sharedInstance().loginUserToken() != m_loginToken) {
        spdlog::info("pull: the reply belongs to another login; nothing merged");
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject()) {
        cleanUp();
        return {};
    }
    const QJsonObject reply = doc.object();
    ZeroManager::sharedInstance().checkServerCipher(reply.value(u"cipher").toVariant());
    if (NumberReader::jsonIntegerOrZero(reply.value(u"code").toVariant()) != 0)
        return {};

    bool keyMissing = false;
    for (const QJsonValue& element : reply.value(u"histories").toArray())
        keyMissing = mergeElement(element) || keyMissing;
    applyActions(reply.value(u"action"));
    if (reply.contains(u"clear_all_ts"))
        applyClearTime(reply.value(u"clear_all_ts"));

    // Only after the merge, so a pull cut short repeats its window.
    const auto requestTime = NumberReader::wholeNumber(reply.value(u"request_timestamp").toVariant(), 0);
    if (keyMissing)
        spdlog::info("pull: clips of the account's key came without a usable key; the bookmark stays");
    else if (requestTime.value_or(0) != 0)
        UserDefaults::standard().setValue(DefaultsKey::LastPullRequestTime, QString::number(*requestTime));

    cleanUp();
    return reply.toVariantMap();
}

bool PullClipManager::mergeElement(const QJsonValue& element)
{
    QString reason;
    const auto server = ServerClip::fromJson(element, &reason);
    if (!server) {
        spdlog::warn("pull: element skipped ({})", reason.toStdString());
        return false;
    }
    const QString history = ClipCategory::History;

    HistoryModel probe;
    probe.setFile_hash(server->fileHash);
    if (probe.isExist()) {
        DBKeeper::applyServerState(server->fileHash, history, server->serverState());
        return false;
    }

    if (!server->historyId) {
        spdlog::warn("pull: new element {} without a history_id skipped", server->fileHash.toStdString());
        return false;
    }
    std::optional<QString> content;
    if (server->keyHash) {
        const auto current = ZeroManager::sharedInstance().currentKeyHash();
        if (!current)
            return true;
        if (*server->keyHash == *current && server->content)
            content = ZeroManager::sharedInstance().decryptBase64String(*server->content);
    } else if (!hasEncModifier(server->type)) {
        content = server->content;
    }
    if (!content)
        return false;

    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(server->fileHash);
    const DBKeeper::ServerState state = server->serverState();
    clip->setTimestamp(state.timestamp);
    if (server->type)
        clip->setType(server->type);
    clip->setFile_ready(state.fileReady);
    clip->setFile_id(state.fileId);
    clip->setHistory_id(state.historyId);
    if (server->deviceName)
        clip->setDevice_name(server->deviceName);
    // A negative value is an unfavouring; a new clip is simply not a favourite.
    if (server->favourite)
        clip->setFavourite(QVariant(std::max<qint64>(*server->favourite, 0)));
    if (server->fileName && !server->fileName->isEmpty())
        clip->setFile_name(server->fileName);
    clip->setKey_hash(server->keyHash);
    clip->setContent(content);
    {
        // The row and its body together, so a delete of the same hash cannot come between.
        QMutexLocker bodyLock(&ClipFileManager::bodyLock());
        clip->save();
        if (md5HexOfString(*content) == server->fileHash) {
            ClipFileManager::sharedInstance().saveString(*content, server->fileHash);
            DBKeeper::setLocalFileOkWithHash(server->fileHash);
        }
    }
    DBKeeper::updateHistoryID(clip->history_id(), clip->file_id(), server->fileHash);
    return false;
}

void PullClipManager::applyActions(const QJsonValue& actions)
{
    for (const QJsonValue& entry : actions.toArray()) {
        const QJsonObject action = entry.toObject();
        if (action.value(u"action").toString().toLower() != u"del")
            continue;
        const auto id = NumberReader::jsonInteger(action.value(u"history_id").toVariant());
        if (!id || *id <= 0) {
            spdlog::warn("pull: delete action without a valid history_id skipped");
            continue;
        }
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::deleteHistoryWithId(QVariant(*id)));
    }
}

void PullClipManager::applyClearTime(const QJsonValue& time)
{
    const auto before = NumberReader::realNumber(time.toVariant());
    if (!before || time.isBool()) {
        spdlog::warn("pull: clear_all_ts is not a number; nothing cleared");
        return;
    }
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::clearHistoryLessThan(QVariant(*before)));
    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete);
}

void PullClipManager::cleanUp()
{
    ClipFileManager& files = ClipFileManager::sharedInstance();
    files.deleteFilesWithHistoryArray(DBKeeper::cleanupDatabase(QString(ClipCategory::History)));
    files.deleteFilesWithHistoryArray(DBKeeper::removeInvalidDatas());
    HistoryService::sharedInstance().process();
}
