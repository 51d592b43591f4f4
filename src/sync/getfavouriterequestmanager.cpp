#include "sync/getfavouriterequestmanager.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/clipkinds.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "sync/favouriteservice.h"
#include "sync/replylogin.h"

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

// Drops the favourite row of the hash and sets every row left to 0.
void unfavourite(const QString& hash)
{
    DBKeeper::deleteClipItem(hash, kFavourite);
    DBKeeper::setFavourite(QVariant(0), hash);
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

QString GetFavouriteRequestManager::combinURL() const
{
    return percentEscape(RequestManager::combinURL() + tokenParameter());
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
            if (!id)
                continue;
            const HistoryModelPtr local = DBKeeper::getClipObjectWithHistoryID(QVariant(*id), kFavourite);
            if (!local || !local->file_hash())
                continue;
            const qint64 server = integerOf(object, "favourite");
            if (std::abs(server) > std::abs(NumberReader::wholeNumber(local->favourite()).value_or(0))) {
                unfavourite(*local->file_hash());
                changed = true;
            }
        }

        const std::optional<QString> currentKey = zero.currentKeyHash();
        for (const QJsonValue& value : reply.value(QStringLiteral("histories")).toArray()) {
            const QJsonObject object = value.toObject();
            const QString hash = object.value(QStringLiteral("file_hash")).toString();
            if (!isValidFileHash(hash))
                continue;
            const HistoryModelPtr sent = HistoryModel::initWithDictionary(object);
            if (!sent)
                continue;
            auto row = std::make_shared<HistoryModel>();
            row->setCategory(kFavourite);
            row->setFile_hash(hash);
            if (row->isExist()) {
                row->fetch();
                row->setFile_id(sent->file_id());
                row->setFile_ready(sent->file_ready());
                row->setFile_name(sent->file_name());
                row->setHistory_id(sent->history_id());
                row->setDevice_name(sent->device_name());
                row->setKey_hash(sent->key_hash());
                const double sentTime = NumberReader::realNumber(sent->timestamp()).value_or(0);
                if (sentTime > NumberReader::realNumber(row->timestamp()).value_or(0))
                    row->setTimestamp(sent->timestamp());
                const qint64 s = NumberReader::wholeNumber(sent->favourite()).value_or(0);
                const qint64 l = NumberReader::wholeNumber(row->favourite()).value_or(0);
                if (std::abs(s) > std::abs(l)) {
                    row->return_to_zero_change_count();
                    const qint64 merged = s > 0 ? s : 0;
                    row->setFavourite(QVariant(merged));
                    DBKeeper::setFavourite(QVariant(merged), hash);
                    if (merged == 0) {
                        // A favourite row with no favourite value is no favourite.
                        unfavourite(hash);
                        changed = true;
                        continue;
                    }
                }
                row->save();
                continue;
            }
            row->setFile_name(sent->file_name());
            row->setTimestamp(sent->timestamp());
            row->setType(sent->type());
            row->setFile_ready(sent->file_ready());
            row->setFile_id(sent->file_id());
            row->setHistory_id(sent->history_id());
            row->setDevice_name(sent->device_name());
            row->setFavourite(sent->favourite());
            row->setKey_hash(sent->key_hash());
            const std::optional<QString> keyHash = sent->key_hash();
            const QString content = object.value(QStringLiteral("content")).toString();
            if (keyHash) {
                if (!keyHash->isEmpty() && currentKey && *keyHash == *currentKey) {
                    const auto plain = zero.decryptBase64String(content);
                    if (!plain)
                        continue;
                    row->setContent(*plain);
                    row->save();
                }
                changed = true;
                continue;
            }
            const QStringList modifiers = sent->type().value_or(QString()).split(QLatin1Char(ClipKind::ModifierSeparator));
            if (!modifiers.contains(ClipKind::ModifierEnc)) {
                row->setContent(content);
                row->save();
            }
            changed = true;
        }
    }

    const HistoryList removed = DBKeeper::cleanupDatabase(kFavourite);
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(removed);
    if (changed)
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    FavouriteService::sharedInstance().process();
    return result;
}
