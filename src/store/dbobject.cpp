#include "store/dbobject.h"

void DBObject::inDatabase(const DBFetcher::Block& block)
{
    DBFetcher::sharedInstance().inDatabase(block);
}

bool DBObject::inTransaction(const DBFetcher::TransactionBlock& block)
{
    return DBFetcher::sharedInstance().inTransaction(block);
}

bool DBObject::propertyIsOptional(const QString&)
{
    return true;
}
