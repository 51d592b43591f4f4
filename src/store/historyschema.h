#pragma once

class QSqlDatabase;

// The History table: creates it on a new database and brings a table of any earlier layout
// to the sixteen columns and the unique index on (file_hash, category). Runs once per start,
// as one database block, before any other History access.
class HistorySchema {
public:
    static void prepare(QSqlDatabase& db);

private:
    // The category rebuild through History2, in one transaction: on any failure the old
    // table stays as it was.
    static void rebuildWithCategory(QSqlDatabase& db);
    // A table left without its unique index gets it back; rows repeating a pair are first
    // reduced to the newest.
    static void ensureUniqueIndex(QSqlDatabase& db);
};
