#include "sync/setfavouriterequestmanager.h"

#include "platform/dispatch.h"

SetFavouriteRequestManager& SetFavouriteRequestManager::sharedInstance()
{
    static SetFavouriteRequestManager instance;
    return instance;
}

void SetFavouriteRequestManager::setFavourite(const HistoryModelPtr&, Callback callback)
{
    if (callback)
        dispatch::mainAsync([callback = std::move(callback)] { callback(nullptr, std::nullopt); });
}
