#include "sync/pushclipsmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/notificationnames.h"

PushClipsManager& PushClipsManager::sharedInstance()
{
    static PushClipsManager instance;
    return instance;
}

void PushClipsManager::Del(const HistoryModelPtr& clip, Callback callback)
{
    if (!clip)
        return;
    dispatch::mainAsync([clip, callback = std::move(callback)] {
        DBKeeper::deleteClipItem(clip->file_hash());
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});
        NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
        if (callback)
            callback(QVariant(), std::nullopt);
    });
}
