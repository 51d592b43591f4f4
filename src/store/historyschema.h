#pragma once

class QSqlDatabase;

// The History table: creates it on a new database and brings a table of any earlier layout
// to the sixteen columns and the unique index on (file_hash, category), plus the index on
// (category, timeStamp) that keeps the list queries and the clean-up flat as the table grows.
// Beside it, the Tombstone table of the deletes owed to the service (store/tombstones.h).
// Runs once per start, as one database block, before any other History access.
class HistorySchema {
public:
    // False when the file holds something under the name History that cannot be brought to
    // that layout (columns missing, a view): the caller treats the file as damaged.
    static bool prepare(QSqlDatabase& db);
    // Giving the file's free pages back, apart from prepare() so that start-up can run it after
    // capture has begun; neither changes a row. A file that gives them back in steps (every
    // history made by this build) needs nothing here. An older file that has free pages is
    // turned into one by a single VACUUM, the one long block: once per file.
    static void compact(QSqlDatabase& db);
    // Gives back at most kPagesPerStep free pages of a file that does so in steps; true while
    // more are left, so the caller runs the next step as a block of its own and other work
    // on the queue goes between them.
    static bool compactStep(QSqlDatabase& db);
    static constexpr int kPagesPerStep = 256;

private:
    // The category rebuild through History2, in one transaction: on any failure the old
    // table stays as it was.
    static void rebuildWithCategory(QSqlDatabase& db);
    // A table left without its unique index gets it back; rows repeating a pair are first
    // reduced to the newest.
    static void ensureUniqueIndex(QSqlDatabase& db);
    // Something that is not a table (a view, an index) is called History.
    static bool nameTaken(QSqlDatabase& db);
    // The existing table has what the steps cannot add.
    static bool canBeMigrated(QSqlDatabase& db);
    // History is a table with the sixteen columns and the unique index.
    static bool hasFullLayout(QSqlDatabase& db);
};
