#include "sync/historyservice.h"

HistoryService& HistoryService::sharedInstance()
{
    static HistoryService instance;
    return instance;
}

void HistoryService::process()
{
    // Nothing to send yet: uploads come with the sync layer.
}
