#include "store/dbobject.h"

void DBObject::inDatabase(const DBFetcher::Block& block)
{
    DBFetcher::sharedInstance().inDatabase(block);
}

bool DBObject::propertyIsOptional(const QString&)
{
    return true;
}
