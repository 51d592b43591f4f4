#include "sync/pullclipmanager.h"

#include "platform/dispatch.h"

void PullClipManager::request(Callback callback)
{
    if (callback)
        dispatch::mainAsync([callback = std::move(callback)] { callback(QVariant(), -999, std::nullopt); });
}
