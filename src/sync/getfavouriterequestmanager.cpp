#include "sync/getfavouriterequestmanager.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/clipkinds.h"
#include "store/cliptype.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "sync/uploadtriggers.h"
#include "sync/replylogin.h"
#include "sync/replyverdict.h"
#include "sync/serverclip.h"

#include <QSqlQuery>

#include <spdlog/spdlog.h>

#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kFavourite = QString(ClipCategory::Favourite);

// A server id: a JSON integer above 0 (a hostile id never reaches a query as anything else).
std::optional<qint64> historyIdOf(const QJsonObject& object)
{
    const auto id = NumberReader::jsonInteger(object.value(QStringLiteral("history_id")).toVariant());
    if (id && *id > 0)
        return id;
    return std::nullopt;
}

qint64 integerOf(const QJsonObject& object, const char* key)
{
    return NumberReader::jsonIntegerOrZero(object.value(QLatin1String(key)).toVariant());
}

// A favourite value from a reply: an integer whose magnitude is a number.
std::optional<qint64> favouriteOf(const QJsonObject& object)
{
    const auto value = NumberReader::jsonInteger(object.value(QStringLiteral("favourite")).toVariant());
    if (!value || *value == std::numeric_limits<qint64>::min())
        return std::nullopt;
    return value;
}

// When the server's unfavouring is later than the local favourite row of the id: that row
// goes and every row of its hash gets 0, in one change. True when it happened.
bool unfavouriteIfLater(qint64 historyId, qint64 server)
{
    bool done = false;
    HistoryModel::inTransaction([&](QSqlDatabase& db) {
        QSqlQuery row = DBFetcher::executeQuery(
            db, QStringLiteral("select file_hash, favourite from History where history_id = ? and category = ? "
                               "order by rowid desc limit 1"),
            {QVariant(historyId), kFavourite});
        if (!row.next())
            return true;
        const QString hash = row.value(0).toString();
        const qint64 local = row.value(1).toLongLong();
        row.finish();
        if (local == std::numeric_limits<qint64>::min() || std::llabs(server) <= std::llabs(local))
            return true;
        done = DBFetcher::executeUpdate(db, QStringLiteral("delete from History where file_hash = ? and category = ?"),
                                        {hash, kFavourite})
               && DBFetcher::executeUpdate(db, QStringLiteral("update History set favourite = 0 where file_hash = ?"),
                                           {hash});
        return done;
    });
    return done;
}

}  // namespace

GetFavouriteRequestManager::GetFavouriteRequestManager()
{
    httpMethod = QStringLiteral("POST");
}

QString GetFavouriteRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/get_favourite/");
}

void GetFavouriteRequestManager::genPostData()
{
    favourites = DBKeeper::getSyncFavourite();
    httpBodyData = QJsonDocument(QJsonObject{{QStringLiteral("favourites"), QJsonObject::fromVariantMap(favourites)}})
                       .toJson(QJsonDocument::Compact);
}

QVariant GetFavouriteRequestManager::parse(const QByteArray& data)
{
    // Every write below is checked against the sender's login where it runs.
    ReplyLogin::Scope scope(sentLoginEpoch());
    if (!ReplyLogin::holds(sentLoginEpoch()))
        return QVariant();
    bool changed = false;
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    QVariant result;
    if (doc.isObject()) {
        const QJsonObject reply = doc.object();
        ZeroManager& zero = ZeroManager::sharedInstance();
        // A reply to a login that ended speaks for no account: its key fingerprint is not read.
        if (ReplyVerdict::endLoginIfSaid(reply, sentUserToken()))
            return QVariant();
        zero.checkServerCipher(reply.value(QStringLiteral("cipher")).toVariant());
        if (integerOf(reply, "code") != 0)
            return QVariant();
        result = reply.toVariantMap();

        for (const QJsonValue& value : reply.value(QStringLiteral("delfavourites")).toArray()) {
            const auto id = historyIdOf(value.toObject());
            if (!id)
                continue;
            HistoryList deleted;
            DBKeeper::deleteClipWithHistoryID(QVariant(*id), &deleted);
            // Bodies no row keeps any more go with their rows.
            ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(deleted);
            changed = true;
        }

        for (const QJsonValue& value : reply.value(QStringLiteral("unfavourites")).toArray()) {
            const QJsonObject object = value.toObject();
            const auto id = historyIdOf(object);
            const auto server = favouriteOf(object);
            if (!id || !server) {
                spdlog::warn("favourites: unfavourite without a valid history_id or favourite skipped");
                continue;
            }
            if (unfavouriteIfLater(*id, *server))
                changed = true;
        }

        const std::optional<QString> currentKey = zero.currentKeyHash();
        for (const QJsonValue& value : reply.value(QStringLiteral("histories")).toArray()) {
            QString reason;
            const auto server = ServerClip::fromJson(value, &reason);
            if (!server || !server->historyId) {
                spdlog::warn("favourites: element skipped ({})", server ? "no history_id" : reason.toStdString());
                continue;
            }
            const QString& hash = server->fileHash;
            DBKeeper::ServerState state = server->serverState();
            // The type is the one stored with the content.
            state.type.reset();
            state.favouriteToEveryRow = true;
            state.clearMarkWhenServerWins = true;

            // A new favourite's content, made before the database is entered.
            std::optional<QString> content;
            bool readable = true;
            if (server->keyHash) {
                readable = currentKey && *server->keyHash == *currentKey && server->content;
                if (readable)
                    content = zero.decryptBase64String(*server->content);
            } else if (ClipType::parse(server->type).encrypted()) {
                readable = false;
            } else {
                content = server->content.value_or(QString());
            }

            bool stored = false;
            bool existed = false;
            bool skipped = false;
            HistoryModel::inTransaction([&](QSqlDatabase& db) {
                if (DBKeeper::applyServerState(db, hash, kFavourite, state)) {
                    existed = true;
                    return true;
                }
                // New here: stored only with content this key can read.
                if (!readable)
                    return true;
                if (!content) {
                    skipped = true;
                    return true;
                }
                const HistoryModelPtr row = server->newRow(kFavourite, content);
                // Beside the clip's history row the copy is kept as that row is: its kind and
                // its encryption were decided here, not by the service's type.
                QSqlQuery history = DBFetcher::executeQuery(
                    db, QStringLiteral("select type from History where file_hash = ? and category = ?"),
                    {hash, QString(ClipCategory::History)});
                if (history.next() && !history.value(0).isNull()) {
                    const ClipType stored = ClipType::parse(history.value(0).toString());
                    row->setType(server->keyHash && !stored.encrypted()
                                     ? stored.with(ClipKind::ModifierEnc).toString()
                                     : stored.toString());
                }
                history.finish();
                stored = row->save(db);
                return stored;
            });
            if (!skipped && !existed)
                changed = changed || stored || !readable;
        }
    }

    const HistoryList removed = DBKeeper::cleanupDatabase(kFavourite);
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(removed);
    if (changed)
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    UploadTriggers::wakeAll();
    return result;
}
