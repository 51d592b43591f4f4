#pragma once

#include "service/requesterror.h"
#include "store/historymodel.h"

#include <QVariant>

#include <functional>
#include <optional>

// Sends single clips to the server's push endpoint and applies its answers.
//
// Not built yet: only the delete exists, and it takes the path of a closed gate (no key is
// ever set up yet), deleting the clip here only.
class PushClipsManager {
public:
    // (result, error); always called once, on the main queue.
    using Callback = std::function<void(const QVariant& result, const std::optional<RequestError>& error)>;

    static PushClipsManager& sharedInstance();

    // Deletes the clip (every row of its file_hash and its files) and, for a synced clip, on
    // the server.
    void Del(const HistoryModelPtr& clip, Callback callback);

private:
    PushClipsManager() = default;
};
