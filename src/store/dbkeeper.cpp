#include "store/dbkeeper.h"

#include "platform/numberreader.h"
#include "store/clipbodylimit.h"
#include "store/clipcategories.h"
#include "store/cliptype.h"

#include <QSqlQuery>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

const QString kHistoryCategory = ClipCategory::History;
const QString kFavouriteCategory = ClipCategory::Favourite;
constexpr qint64 kListLimit = 30;
constexpr qint64 kCleanupKeep = 60;

// A server id taken from a number or a decimal text; nothing unless it is above 0.
std::optional<qint64> serverId(const QVariant& id)
{
    return NumberReader::idOrTime(id, 1, std::numeric_limits<qint64>::max(), NumberReader::Text::Accepted);
}

bool isPresent(const std::optional<QString>& text)
{
    return text && !text->isEmpty();
}

HistoryList listOf(QSqlQuery& rs)
{
    HistoryList list;
    std::optional<HistoryModel::Columns> columns;
    while (rs.next()) {
        if (!columns)
            columns = HistoryModel::columnsOf(rs);
        list.append(HistoryModel::getObjectFrom(&rs, *columns));
    }
    rs.finish();
    return list;
}

HistoryList selectList(QSqlDatabase& db, const QString& sql, const QVariantList& args = {})
{
    QSqlQuery rs = DBFetcher::executeQuery(db, sql, args);
    return listOf(rs);
}

HistoryModelPtr selectLast(const QString& sql, const QVariantList& args = {})
{
    HistoryModelPtr last;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        const HistoryList list = selectList(db, sql, args);
        if (!list.isEmpty())
            last = list.last();
    });
    return last;
}

// Select, then delete the same rows, in one block so nothing comes between.
HistoryList selectThenDelete(const QString& select, const QString& remove, const QVariantList& args = {})
{
    HistoryList deleted;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        deleted = selectList(db, select, args);
        DBFetcher::executeUpdate(db, remove, args);
    });
    return deleted;
}

bool update(const QString& sql, const QVariantList& args)
{
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { ok = DBFetcher::executeUpdate(db, sql, args); });
    return ok;
}

}  // namespace

HistoryList DBKeeper::getAllHistory()
{
    return getAllHistoryAtCategory(kHistoryCategory);
}

HistoryList DBKeeper::getAllFavourites()
{
    return getAllHistoryAtCategory(kFavouriteCategory);
}

HistoryList DBKeeper::getAllHistoryAtCategory(const std::optional<QString>& category)
{
    return getAllHistoryAtCategory(category, kListLimit);
}

HistoryList DBKeeper::getAllHistoryAtCategory(const std::optional<QString>& category, qint64 count)
{
    const qint64 limit = static_cast<quint64>(count) < static_cast<quint64>(kListLimit) ? count : kListLimit;
    HistoryList list;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        list = selectList(db, QStringLiteral("select * from History where category is ? order by timeStamp desc limit ?"),
                          {DBFetcher::bindable(category), QVariant(limit)});
    });
    return list;
}

HistoryList DBKeeper::getHistoryGreatThan(const QVariant& time)
{
    HistoryList list;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        list = selectList(db,
                          QStringLiteral("select * from history where category is 'history' and type like 'text%' "
                                         "and timestamp >= ? order by timestamp"),
                          {time});
    });
    return list;
}

HistoryModelPtr DBKeeper::getClipObjectWithHistoryID(const QVariant& historyId, const std::optional<QString>& category)
{
    const auto id = serverId(historyId);
    if (!id)
        return nullptr;
    return selectLast(QStringLiteral("select * from History where history_id = ? and category is ?"),
                      {QVariant(*id), DBFetcher::bindable(category)});
}

HistoryModelPtr DBKeeper::getUnProcessHistory()
{
    return selectLast(QStringLiteral("select * from History where change_timestamp > 0 and file_size <= ? and "
                                     "secert = 0 and category = 'history' order by timeStamp desc limit 1"),
                      {ClipBodyLimit::kBytes});
}

HistoryModelPtr DBKeeper::getUnProcessFavourite()
{
    return selectLast(QStringLiteral("select * from History where change_timestamp > 0 and file_size <= ? and "
                                     "secert = 0 and category = 'favourite' order by timeStamp desc limit 1"),
                      {ClipBodyLimit::kBytes});
}

namespace {

// A body on exactly one side with a server file id: a download when only the server has it; an
// upload when only this machine has it and its size was measured here (a capture) or given by
// the server. A row written from a server record that held no body yet (file_size 0) got its
// body from the row's own content: the device that captured it uploads it, never a receiver.
const QLatin1String kFileJob{"((file_ready = 1 and local_file_ok = 0) or (file_ready = 0 and local_file_ok = 1 "
                             "and file_size > 0)) and file_id > 0"};

}  // namespace

HistoryModelPtr DBKeeper::getFileProcessHistory()
{
    return selectLast(QStringLiteral("select * from History where %1 order by timeStamp desc limit 1").arg(kFileJob));
}

QVariantMap DBKeeper::getSyncFavourite()
{
    QVariantMap result;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rs = DBFetcher::executeQuery(
            db, QStringLiteral("select history_id,favourite from History where category is 'favourite' and "
                               "history_id > 0 and favourite > 0 order by timestamp"));
        while (rs.next()) {
            const qint64 id = DBFetcher::longForColumn(rs, QStringLiteral("history_id"));
            const qint64 favourite = DBFetcher::longForColumn(rs, QStringLiteral("favourite"));
            result.insert(QString::number(id), QVariantMap{{QStringLiteral("favourite"), QVariant(favourite)}});
        }
    });
    return result;
}

QString DBKeeper::heldByService()
{
    // A secret clip is never uploaded; a pending one holds a change the service lacks.
    return QStringLiteral("(history_id > 0 and change_timestamp <= 0 and secert = 0)");
}

QString DBKeeper::owedToService()
{
    return QStringLiteral("(change_timestamp > 0 or history_id <= 0 or (file_ready = 0 and local_file_ok = 1 and "
                          "file_size > 0))");
}

bool DBKeeper::owesService(const QString& fileHash)
{
    bool owed = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { owed = owesService(db, fileHash); });
    return owed;
}

bool DBKeeper::owesService(QSqlDatabase& db, const QString& fileHash)
{
    const auto n = DBFetcher::longForQuery(
        db, QStringLiteral("select count(*) from History where file_hash = ? and category = ? and %1").arg(owedToService()),
        {fileHash, kHistoryCategory});
    return n.value_or(0) > 0;
}

HistoryList DBKeeper::cleanupDatabase(const std::optional<QString>& category)
{
    const QVariant cat = DBFetcher::bindable(category);
    HistoryList deleted;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        const auto count = DBFetcher::longForQuery(
            db, QStringLiteral("select count(history_id) from history where category is ?"), {cat});
        if (count.value_or(0) <= kCleanupKeep)
            return;
        // Only rows the service holds: for any other the row here is the only copy.
        const QString older = QStringLiteral(
                                  "timestamp < (select min(timestamp) from (select timestamp from history where "
                                  "category is ? order by timestamp desc limit 60)) and category is ? and %1")
                                  .arg(heldByService());
        const QVariantList args{cat, cat};
        deleted = selectList(db, QStringLiteral("select * from history where ") + older, args);
        DBFetcher::executeUpdate(db, QStringLiteral("delete from history where ") + older, args);
    });
    return deleted;
}

HistoryList DBKeeper::clearAllHistory()
{
    return selectThenDelete(QStringLiteral("select * from history where favourite <= 0"),
                            QStringLiteral("delete from history where favourite <= 0"));
}

HistoryList DBKeeper::clearHistoryLessThan(const QVariant& time)
{
    const auto before = NumberReader::idOrTime(time, 1);
    if (!before)
        return {};
    // The service's own times on both sides: a row it was last seen holding before the clear
    // was cleared there too. A row whose time is unknown (0) stays.
    const QString cleared =
        QStringLiteral("favourite <= 0 and %1 and server_time > 0 and server_time < ?").arg(heldByService());
    return selectThenDelete(QStringLiteral("select * from history where ") + cleared,
                            QStringLiteral("delete from history where ") + cleared, {QVariant(*before)});
}

HistoryList DBKeeper::heldAtAnUnknownTime()
{
    HistoryList rows;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        rows = selectList(
            db, QStringLiteral("select * from history where favourite <= 0 and %1 and server_time <= 0").arg(heldByService()));
    });
    return rows;
}

HistoryList DBKeeper::deleteClearedByService(const QString& fileHash, const QString& category, qint64 historyId)
{
    if (fileHash.isEmpty() || historyId <= 0)
        return {};
    const QString condition =
        QStringLiteral("file_hash = ? and category = ? and history_id = ? and favourite <= 0 and %1").arg(heldByService());
    return selectThenDelete(QStringLiteral("select * from history where ") + condition,
                            QStringLiteral("delete from history where ") + condition,
                            {fileHash, category, QVariant(historyId)});
}

bool DBKeeper::noteServerTime(QSqlDatabase& db, const QString& fileHash, qint64 historyId, qint64 serverTime)
{
    if (fileHash.isEmpty() || historyId <= 0 || serverTime <= 0)
        return true;
    return DBFetcher::executeUpdate(
        db,
        QStringLiteral("update History set server_time = ? where file_hash = ? and history_id = ? and server_time < ?"),
        {QVariant(serverTime), fileHash, QVariant(historyId), QVariant(serverTime)});
}

HistoryList DBKeeper::removeAllData()
{
    return selectThenDelete(QStringLiteral("select * from history"), QStringLiteral("delete from history"));
}

HistoryList DBKeeper::removeInvalidDatas()
{
    return selectThenDelete(QStringLiteral("select * from history where file_ready = 0 and local_file_ok = 0;"),
                            QStringLiteral("delete from history where file_ready = 0 and local_file_ok = 0;"));
}

HistoryList DBKeeper::deleteHistoryWithId(const QVariant& historyId)
{
    const auto id = serverId(historyId);
    if (!id)
        return {};
    return selectThenDelete(QStringLiteral("select * from history where history_id = ?"),
                            QStringLiteral("delete from history where history_id = ?"), {QVariant(*id)});
}

bool DBKeeper::setLocalFileOkWithHash(const std::optional<QString>& fileHash)
{
    if (!isPresent(fileHash))
        return true;
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { ok = setLocalFileOkWithHash(db, fileHash); });
    return ok;
}

bool DBKeeper::setLocalFileOkWithHash(QSqlDatabase& db, const std::optional<QString>& fileHash)
{
    if (!isPresent(fileHash))
        return true;
    return DBFetcher::executeUpdate(db, QStringLiteral("update History set local_file_ok = ? where file_hash = ?;"),
                                    {QVariant(1), *fileHash});
}

void DBKeeper::setLocalHistoryOnly(const std::optional<QString>& fileHash)
{
    if (!isPresent(fileHash))
        return;
    update(QStringLiteral("update History set history_id = ?, file_ready = ?, file_id = ?, key_hash = NULL where "
                          "file_hash = ?;"),
           {QVariant(0), QVariant(0), QVariant(0), *fileHash});
}

HistoryList DBKeeper::setLocalOnlyWithoutKeyHash(const std::optional<QString>& keyHash)
{
    if (!isPresent(keyHash))
        return {};
    HistoryList deleted;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db,
                                 QStringLiteral("update History set history_id = 0, file_ready = 0, file_id = 0, "
                                                "key_hash = NULL where key_hash not NULL and key_hash is not ?;"),
                                 {*keyHash});
        deleted = selectList(db, QStringLiteral("select * from History where local_file_ok = 0;"));
        DBFetcher::executeUpdate(db, QStringLiteral("delete from History where local_file_ok = 0;"));
    });
    return deleted;
}

void DBKeeper::setRemoteFileReady(const QVariant& fileReady, const std::optional<QString>& fileHash,
                                  const std::optional<QString>& keyHash)
{
    if (!isPresent(fileHash))
        return;
    update(QStringLiteral("update History set file_ready = ?, key_hash = ? where file_hash = ?;"),
           {fileReady, DBFetcher::bindable(keyHash), *fileHash});
}

bool DBKeeper::updateTimestamp(const QVariant& time, const std::optional<QString>& fileHash)
{
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) { ok = updateTimestamp(db, time, fileHash); });
    return ok;
}

bool DBKeeper::updateTimestamp(QSqlDatabase& db, const QVariant& time, const std::optional<QString>& fileHash)
{
    return DBFetcher::executeUpdate(db, QStringLiteral("update History set timestamp = ? where file_hash is ?;"),
                                    {time, DBFetcher::bindable(fileHash)});
}

bool DBKeeper::setFavourite(const QVariant& favourite, const std::optional<QString>& fileHash)
{
    return update(QStringLiteral("update History set favourite = ? where file_hash is ?;"),
                  {favourite, DBFetcher::bindable(fileHash)});
}

bool DBKeeper::updateHistoryID(const QVariant& historyId, const QVariant& fileId,
                               const std::optional<QString>& fileHash)
{
    return update(QStringLiteral("update History set history_id = ?, file_id = ? where file_hash is ?;"),
                  {historyId, fileId, DBFetcher::bindable(fileHash)});
}

bool DBKeeper::historyExist(const std::optional<QString>& fileHash)
{
    bool exists = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        const auto n = DBFetcher::longForQuery(
            db, QStringLiteral("select count(file_hash) from History where file_hash = ?;"),
            {DBFetcher::bindable(fileHash)});
        exists = n.value_or(0) > 0;
    });
    return exists;
}

bool DBKeeper::deleteClipWithHistoryID(const QVariant& historyId, HistoryList* deleted)
{
    const auto id = serverId(historyId);
    if (!id)
        return false;
    bool ok = false;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        HistoryList rows = selectList(db, QStringLiteral("select * from History where history_id is ?;"), {*id});
        ok = DBFetcher::executeUpdate(db, QStringLiteral("delete from History where history_id is ?;"), {*id});
        if (deleted)
            *deleted = ok ? rows : HistoryList();
    });
    return ok;
}

bool DBKeeper::deleteClipItem(const std::optional<QString>& fileHash)
{
    return update(QStringLiteral("delete from History where file_hash is ?;"), {DBFetcher::bindable(fileHash)});
}

bool DBKeeper::deleteClipItem(const std::optional<QString>& fileHash, const std::optional<QString>& category)
{
    return update(QStringLiteral("delete from History where file_hash is ? and category is ?;"),
                  {DBFetcher::bindable(fileHash), DBFetcher::bindable(category)});
}

bool DBKeeper::applyServerState(const QString& fileHash, const QString& category, const ServerState& state)
{
    bool existed = false;
    HistoryModel::inTransaction([&](QSqlDatabase& db) {
        existed = applyServerState(db, fileHash, category, state);
        return true;
    });
    return existed;
}

bool DBKeeper::applyServerState(QSqlDatabase& db, const QString& fileHash, const QString& category,
                                const ServerState& state)
{
    if (fileHash.isEmpty())
        return false;
    bool existed = false;
    [&] {
        QSqlQuery row = DBFetcher::executeQuery(
            db,
            QStringLiteral("select timeStamp, favourite, type, history_id from History where file_hash = ? and "
                           "category = ?"),
            {fileHash, category});
        if (!row.next())
            return;
        existed = true;
        const qint64 storedTime = row.value(0).toLongLong();
        const qint64 storedFavourite = row.value(1).toLongLong();
        const QString storedType = row.value(2).toString();
        const qint64 storedId = row.value(3).toLongLong();
        row.finish();

        QStringList sets;
        QVariantList args;
        auto set = [&](const char* column, const QVariant& value) {
            sets << QStringLiteral("%1 = ?").arg(QLatin1String(column));
            args << value;
        };
        if (state.historyId.isValid()) {
            set("history_id", state.historyId);
            // Another server copy: when the service took it is not known yet.
            if (state.historyId.toLongLong() != storedId)
                set("server_time", QVariant(0));
        }
        if (state.fileId.isValid())
            set("file_id", state.fileId);
        if (state.fileReady.isValid())
            set("file_ready", state.fileReady);
        if (state.deviceName)
            set("deviceName", *state.deviceName);
        // Whether a body leaves encrypted is decided here: a server's type never takes the
        // encryption off a clip this device holds.
        if (state.type && !(ClipType::parse(storedType).encrypted() && !ClipType::parse(*state.type).encrypted()))
            set("type", *state.type);
        if (state.keyHash)
            set("key_hash", *state.keyHash);
        if (isPresent(state.fileName))
            set("file_name", *state.fileName);
        if (state.timestamp.isValid() && state.timestamp.toLongLong() > storedTime)
            set("timeStamp", state.timestamp);
        bool unfavourite = false;
        std::optional<qint64> merged;
        if (state.favourite.isValid()) {
            const qint64 server = state.favourite.toLongLong();
            const bool valid = server != std::numeric_limits<qint64>::min()
                               && storedFavourite != std::numeric_limits<qint64>::min();
            // Magnitudes compare the two decisions' times; equal ones change nothing unless
            // the server takes ties.
            const bool serverWins = valid
                                    && (std::llabs(server) > std::llabs(storedFavourite)
                                        || (state.favouriteTieToServer && server != 0
                                            && std::llabs(server) == std::llabs(storedFavourite)));
            if (serverWins) {
                unfavourite = server < 0;
                merged = unfavourite ? qint64(0) : server;
                set("favourite", QVariant(*merged));
                if (state.clearMarkWhenServerWins)
                    set("change_timestamp", QVariant(0));
            }
        }
        if (!sets.isEmpty()) {
            args << fileHash << category;
            DBFetcher::executeUpdate(
                db, QStringLiteral("update History set %1 where file_hash = ? and category = ?").arg(sets.join(u", ")),
                args);
        }

        // The other category's row shares the server copy.
        QStringList shared;
        QVariantList sharedArgs;
        if (state.historyId.isValid()) {
            shared << QStringLiteral("server_time = case when history_id = ? then server_time else 0 end")
                   << QStringLiteral("history_id = ?");
            sharedArgs << state.historyId << state.historyId;
        }
        if (state.fileId.isValid()) {
            shared << QStringLiteral("file_id = ?");
            sharedArgs << state.fileId;
        }
        if (state.fileReady.isValid()) {
            shared << QStringLiteral("file_ready = ?");
            sharedArgs << state.fileReady;
        }
        if (state.keyHash) {
            shared << QStringLiteral("key_hash = ?");
            sharedArgs << *state.keyHash;
        }
        if (!shared.isEmpty()) {
            sharedArgs << fileHash << category;
            DBFetcher::executeUpdate(
                db,
                QStringLiteral("update History set %1 where file_hash = ? and category is not ?").arg(shared.join(u", ")),
                sharedArgs);
        }
        if (merged && state.favouriteToEveryRow)
            DBFetcher::executeUpdate(db, QStringLiteral("update History set favourite = ? where file_hash = ?"),
                                     {QVariant(*merged), fileHash});
        if (unfavourite)
            DBFetcher::executeUpdate(db, QStringLiteral("delete from History where file_hash = ? and category = ?"),
                                     {fileHash, kFavouriteCategory});
    }();
    return existed;
}

bool DBKeeper::updateHistoryID(QSqlDatabase& db, const QVariant& historyId, const QVariant& fileId,
                               const std::optional<QString>& fileHash)
{
    return DBFetcher::executeUpdate(db, QStringLiteral("update History set history_id = ?, file_id = ? where file_hash is ?;"),
                                    {historyId, fileId, DBFetcher::bindable(fileHash)});
}

namespace {

// The newest row of the category still to send, passing over the hashes set aside.
HistoryModelPtr unprocessedSkipping(const QString& category, const QStringList& skipping)
{
    QStringList marks;
    QVariantList args{ClipBodyLimit::kBytes, category};
    for (const QString& hash : skipping) {
        marks << QStringLiteral("?");
        args << hash;
    }
    return selectLast(QStringLiteral("select * from History where change_timestamp > 0 and file_size <= ? and "
                                     "secert = 0 and category = ? and file_hash not in (%1) "
                                     "order by timeStamp desc limit 1")
                          .arg(marks.join(u", ")),
                      args);
}

}  // namespace

HistoryModelPtr DBKeeper::getUnProcessHistory(const QStringList& skipping)
{
    if (skipping.isEmpty())
        return getUnProcessHistory();
    return unprocessedSkipping(QString(ClipCategory::History), skipping);
}

HistoryModelPtr DBKeeper::getUnProcessFavourite(const QStringList& skipping)
{
    if (skipping.isEmpty())
        return getUnProcessFavourite();
    return unprocessedSkipping(QString(ClipCategory::Favourite), skipping);
}

HistoryModelPtr DBKeeper::getFileProcessHistory(const QStringList& skipping)
{
    if (skipping.isEmpty())
        return getFileProcessHistory();
    QStringList marks;
    QVariantList args;
    for (const QString& hash : skipping) {
        marks << QStringLiteral("?");
        args << hash;
    }
    return selectLast(QStringLiteral("select * from History where %1 and file_hash not in (%2) order by timeStamp desc "
                                     "limit 1")
                          .arg(kFileJob, marks.join(u", ")),
                      args);
}
