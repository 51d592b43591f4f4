#include "sync/uploadtriggers.h"

#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/historyservice.h"

namespace UploadTriggers {

void wakeAll()
{
    HistoryService::sharedInstance().process();
    FavouriteService::sharedInstance().process();
    FileService::sharedInstance().process();
}

}  // namespace UploadTriggers
