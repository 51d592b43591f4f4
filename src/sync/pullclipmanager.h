#pragma once

#include "service/requesterror.h"

#include <QVariant>

#include <functional>
#include <optional>

// One pull of the history changes since the last pull, merged into the local store. Made
// anew for each pull and kept by its caller until the callback has run.
//
// Not built yet: a request is never sent; it answers as a refused one does.
class PullClipManager {
public:
    // (parsed result or none, HTTP status or -999, error); on the main queue.
    using Callback = std::function<void(const QVariant& result, int status, const std::optional<RequestError>& error)>;

    void request(Callback callback);
};
