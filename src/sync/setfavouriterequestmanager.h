#pragma once

#include "service/requesterror.h"
#include "store/historymodel.h"

#include <functional>
#include <optional>

// Sends the favourite value of one clip the server already knows.
//
// Not built yet: nothing is sent (no key is ever set up yet, so the request is refused).
class SetFavouriteRequestManager {
public:
    // (the clip as the server returned it or null, error); once per call, on the main queue.
    using Callback = std::function<void(const HistoryModelPtr& result, const std::optional<RequestError>& error)>;

    static SetFavouriteRequestManager& sharedInstance();

    void setFavourite(const HistoryModelPtr& clip, Callback callback);

private:
    SetFavouriteRequestManager() = default;
};
