#pragma once

#include "plugins/pluginmanager.h"
#include "store/historymodel.h"

#include <QString>

#include <functional>
#include <optional>

// What the clip menu asks of the plugin, key and sync layers. standard() reaches the real
// singletons; tests replace entries to steer and watch them.
struct MenuServices {
    using Done = std::function<void()>;
    // refused: the request was never sent (secret clip, unknown to the server, no key yet).
    using FavouriteDone = std::function<void(bool refused)>;

    std::function<PluginDict()> listPlugins;
    // The key manager's state: 1 with a usable end-to-end key, else 0.
    std::function<int()> keyState;
    std::function<std::optional<QString>()> currentKeyHash;
    // Each request below calls done once, on the main queue, when it has ended whatever the
    // outcome; the clip handed over is the request's own copy.
    std::function<void(Done done)> pullHistory;
    // After pullHistory's done: true when that pull got no answer from the service.
    std::function<bool()> lastPullFailed;
    std::function<void(Done done)> pullFavourites;
    std::function<void(const HistoryModelPtr& clip, FavouriteDone done)> setFavourite;
    std::function<void(const HistoryModelPtr& clip, Done done)> deleteClip;
    // Wake the upload workers.
    std::function<void()> processHistory;
    std::function<void()> processFavourites;

    static MenuServices standard();
};
