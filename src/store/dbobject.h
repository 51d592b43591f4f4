#pragma once

#include "store/dbfetcher.h"

#include <QString>

// Base of the records kept in the history database. Subclasses override the placeholders;
// here they do nothing.
class DBObject {
public:
    virtual ~DBObject() = default;

    // Runs the block on the database queue of the shared fetcher and returns when it has run.
    static void inDatabase(const DBFetcher::Block& block);
    // The same inside one write transaction (DBFetcher::inTransaction): true when committed.
    static bool inTransaction(const DBFetcher::TransactionBlock& block);

    // Every field of the JSON form is optional, so a missing key keeps the field's default.
    static bool propertyIsOptional(const QString& propertyName);

    virtual void save() const {}
    virtual void fetch() {}
    virtual void del() const {}
    virtual bool isExist() const { return false; }

protected:
    DBObject() = default;
    DBObject(const DBObject&) = default;
    DBObject& operator=(const DBObject&) = default;
};
