#include "sync/getfavouriterequestmanager.h"

#include "platform/dispatch.h"

void GetFavouriteRequestManager::request(Callback callback)
{
    if (callback)
        dispatch::mainAsync([callback = std::move(callback)] { callback(QVariant(), -999, std::nullopt); });
}
