#pragma once

#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <vector>

// A delete this device owes the service: the clip's hash, its server id when known (0 when
// not yet), and the account it was deleted under. A tombstone is kept (table "Tombstone",
// beside History, which older builds read as it always was) until the service confirms the
// delete; while it is kept, no pull or fetch brings the clip back. It belongs to its account:
// only that account's login sends it. A login the service ended leaves it for that account's
// next login; the logout purge (the user's logout, or another account's login after an ended
// one) removes it with the history. A clip copied again (a History row of the hash exists)
// makes its tombstone moot.
//
// Every operation is one block on the database queue, or runs inside a block given to it.
struct Tombstone {
    QString fileHash;
    qint64 historyId = 0;
    QString userId;
};

class Tombstones {
public:
    Tombstones() = delete;

    // The table, when missing (additive: a file of any earlier layout gains it).
    static bool createTable(QSqlDatabase& db);

    // Deletes every row of the hash and, for an account, leaves its tombstone with the id
    // the rows held, in one change. A clip that can never have reached the service (secret,
    // or a kind that is not synced, and without a server id) leaves none. False when the
    // change failed (nothing deleted).
    static bool deleteClip(const QString& fileHash, const std::optional<QString>& userId);

    // The service named the hash's server id (a post reply, a pull, a fetch): the account's
    // tombstone takes it; with create, one is made when none exists. True when the account
    // has a tombstone of the hash afterwards.
    static bool adoptId(QSqlDatabase& db, const QString& fileHash, qint64 historyId, const QString& userId,
                        bool create);
    static bool adoptId(const QString& fileHash, qint64 historyId, const QString& userId, bool create);

    // The account's tombstone of the hash exists.
    static bool exists(QSqlDatabase& db, const QString& fileHash, const QString& userId);
    // The hashes of all the account's tombstones.
    static QSet<QString> hashesOf(const QString& userId);

    // The newest tombstone of the account that has a server id, passing over the hashes given.
    // The account's tombstones of clips copied again (a History row of the hash exists) are
    // dropped first, unsent: the clip is wanted, and its own post brings the service up to date.
    static std::optional<Tombstone> nextToSend(const QString& userId, const QStringList& skipping);

    // The service confirmed the delete of that id: forgotten, unless a newer id was adopted
    // meanwhile (that one is still owed).
    static bool forget(const QString& fileHash, qint64 historyId, const QString& userId);
    // The service no longer has that id: the tombstone stays, without an id, until the service
    // names the hash under another one.
    static bool dropId(const QString& fileHash, qint64 historyId, const QString& userId);
    // The service deleted the clip of that id (a pull's "del"): its tombstones are done.
    static bool forgetId(QSqlDatabase& db, qint64 historyId, const QString& userId);
    static bool forgetId(qint64 historyId, const QString& userId);

    // The account's tombstones that have a server id and whose clip was not copied again,
    // newest first: what the account still owes the service.
    static std::vector<Tombstone> owedBy(const QString& userId);
    // Every tombstone (the logout purge).
    static bool removeAll();
    // Every tombstone of another account than this one (a login's last guard).
    static bool removeAllBut(const QString& userId);

    // Every tombstone, oldest first (tests and logs).
    static std::vector<Tombstone> all();
};
