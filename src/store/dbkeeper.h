#pragma once

#include "store/historymodel.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The query layer over the History table: the menu's lists, the upload workers' next job,
// clean-up and clearing, sync-state updates and deletes. Stateless; every operation is one
// block on the database queue.
//
// Lists come back in the order the query yields them. A "deleted list" holds the records of
// the rows the operation removed (selected in the same block as the delete); callers pass it
// to ClipFileManager::deleteFilesWithHistoryArray so the unused bodies go too. Database
// failures are not reported: lists come back empty, single clips null, booleans false.
//
// A server history id (a number or decimal text) must be above 0 before it selects or
// deletes anything: 0 means "not on the server", and would match every local-only clip.
class DBKeeper {
public:
    DBKeeper() = delete;

    // The newest 30 clips of "history" / "favourite", newest first.
    static HistoryList getAllHistory();
    static HistoryList getAllFavourites();
    static HistoryList getAllHistoryAtCategory(const std::optional<QString>& category);
    // At most min(count, 30) clips, the count taken as unsigned (so -1 gives 30, 0 none).
    static HistoryList getAllHistoryAtCategory(const std::optional<QString>& category, qint64 count);
    // Text history clips from that Unix time on, oldest first.
    static HistoryList getHistoryGreatThan(const QVariant& time);
    // The last row with that server id in the category; null for an id of 0 or below.
    static HistoryModelPtr getClipObjectWithHistoryID(const QVariant& historyId,
                                                      const std::optional<QString>& category);

    // The next clip an upload worker handles (pending, not secret, within the clip body
    // limit), or null.
    static HistoryModelPtr getUnProcessHistory();
    static HistoryModelPtr getUnProcessFavourite();
    // The newest clip of either category whose body is on exactly one side and that has a
    // server file id. A body only here is taken when its row has a size: one written from a
    // server record that held no body yet is left to the device that captured it.
    static HistoryModelPtr getFileProcessHistory();
    // Body of the favourites request: "<history_id>" -> {"favourite": value}, for every
    // favourite row with an id and a favourite value above 0, oldest first (later rows win).
    static QVariantMap getSyncFavourite();

    // The SQL condition of a row the service holds: it has a server id, no change of it waits
    // to be sent, and it is not secret. Only such rows may go by a clean-up or a clear; any
    // other row may be the clip's only copy.
    static QString heldByService();
    // The SQL condition of a row whose post or body upload this device still owes the
    // service: a pending change, no server id yet, or a body captured here not yet up.
    static QString owedToService();
    // The history row of the hash is owed to the service (above).
    static bool owesService(const QString& fileHash);
    static bool owesService(QSqlDatabase& db, const QString& fileHash);
    // Keeps the newest 60 of the category (rows sharing the 60th newest time stay too); of
    // the older rows only those the service holds go.
    static HistoryList cleanupDatabase(const std::optional<QString>& category);
    // Every row of either category whose favourite value is not above 0.
    static HistoryList clearAllHistory();
    // The service's clear at its own time: the rows it held before then (server_time, the
    // service's time when it was last seen holding the row, earlier than the given time), not
    // favourites. Nothing for a time that is not a whole number above 0.
    static HistoryList clearHistoryLessThan(const QVariant& time);
    // The rows a clear cannot decide: held by the service, not favourites, but when the service
    // took them is not known (server_time 0).
    static HistoryList heldAtAnUnknownTime();
    // The service answered that it no longer has the clip of that id after a clear: the row of
    // (file_hash, category) goes, in one block, only while it still carries the id, is held
    // by the service and is not a favourite. The deleted list.
    static HistoryList deleteClearedByService(const QString& fileHash, const QString& category, qint64 historyId);
    // The service was seen holding the clip under that id at its own time serverTime (a pull's
    // "request_timestamp"): rows of the hash carrying the id take it when it is later.
    static bool noteServerTime(QSqlDatabase& db, const QString& fileHash, qint64 historyId, qint64 serverTime);
    static HistoryList removeAllData();
    // Rows whose body is neither on the server nor on this machine.
    static HistoryList removeInvalidDatas();
    static HistoryList deleteHistoryWithId(const QVariant& historyId);

    // Sync-state updates; each does nothing for an absent or empty hash (or key hash).
    // False when the statement could not run.
    static bool setLocalFileOkWithHash(const std::optional<QString>& fileHash);
    // The same inside a block already on the queue; true when the statement ran (or there
    // was nothing to do).
    static bool setLocalFileOkWithHash(QSqlDatabase& db, const std::optional<QString>& fileHash);
    // Detaches the clip from the server: ids, file_ready and key_hash cleared.
    static void setLocalHistoryOnly(const std::optional<QString>& fileHash);
    // Detaches every row encrypted under another key, then deletes every row whose body is
    // not on this machine; gives the deleted list.
    static HistoryList setLocalOnlyWithoutKeyHash(const std::optional<QString>& keyHash);
    // An absent key hash clears key_hash.
    static void setRemoteFileReady(const QVariant& fileReady, const std::optional<QString>& fileHash,
                                   const std::optional<QString>& keyHash);

    // Updates of both categories by file_hash; true when the statement ran (matched or not).
    static bool updateTimestamp(const QVariant& time, const std::optional<QString>& fileHash);
    static bool updateTimestamp(QSqlDatabase& db, const QVariant& time, const std::optional<QString>& fileHash);
    static bool setFavourite(const QVariant& favourite, const std::optional<QString>& fileHash);
    static bool updateHistoryID(const QVariant& historyId, const QVariant& fileId,
                                const std::optional<QString>& fileHash);

    // Any row of either category has the hash.
    static bool historyExist(const std::optional<QString>& fileHash);
    // False, and nothing deleted, for an absent id or one of 0 or below. The removed rows go
    // to deleted when it is given.
    static bool deleteClipWithHistoryID(const QVariant& historyId, HistoryList* deleted = nullptr);
    // Both categories.
    static bool deleteClipItem(const std::optional<QString>& fileHash);
    static bool deleteClipItem(const std::optional<QString>& fileHash, const std::optional<QString>& category);

    // What a server reply owns of a clip. A field without a value keeps the stored one.
    struct ServerState {
        QVariant historyId;
        QVariant fileId;
        QVariant fileReady;
        std::optional<QString> deviceName;
        // Never taken when it would drop the stored type's "enc".
        std::optional<QString> type;
        std::optional<QString> keyHash;
        // Taken only when not empty.
        std::optional<QString> fileName;
        // Taken only when later than the stored time.
        QVariant timestamp;
        // Merged: the value of larger magnitude wins; a winning negative value unfavourites
        // (0, and the clip's "favourite" row is deleted).
        QVariant favourite;
        // A tie of magnitudes goes to the server (the answer to this device's own favouring).
        bool favouriteTieToServer = false;
        // The merged value goes into every row of the hash (the favourite replies).
        bool favouriteToEveryRow = false;
        // When the server's value wins, the row's pending mark is cleared (nothing left to send).
        bool clearMarkWhenServerWins = false;
    };
    // Writes a reply's state into the row of (file_hash, category), and its server ids, body
    // state and key hash into the hash's other row, in one block, only while that row exists:
    // a reply never brings back a clip deleted while it was in flight. False when the row was
    // gone (nothing written).
    static bool applyServerState(const QString& fileHash, const QString& category, const ServerState& state);
    // The same inside a block already on the queue.
    static bool applyServerState(QSqlDatabase& db, const QString& fileHash, const QString& category,
                                 const ServerState& state);
    static bool updateHistoryID(QSqlDatabase& db, const QVariant& historyId, const QVariant& fileId,
                                const std::optional<QString>& fileHash);
    // The next history clip to upload, passing over the given hashes; null when none is left.
    static HistoryModelPtr getUnProcessHistory(const QStringList& skipping);
    static HistoryModelPtr getUnProcessFavourite(const QStringList& skipping);
    // The next body for the file worker, passing over the given hashes; null when none is left.
    static HistoryModelPtr getFileProcessHistory(const QStringList& skipping);
};
