#pragma once

#include "store/historymodel.h"
#include "sync/serverclip.h"

#include <QtGlobal>

#include <optional>
#include <vector>

// The two roads by which a clip made on another device enters this store. Both go through
// ServerClipStore; where they differ is written side by side in serverclipstore.cpp.
enum class ServerClipRoad {
    // An element of a "/pull/" reply.
    Pull,
    // The fetch of the one clip a "history_upload_file" message named.
    Fetch,
};

// One checked server clip on its way into the store.
struct ServerClipArrival {
    ServerClip server;
    // The row to insert when the store does not hold the clip yet; null when only a stored
    // row may take the server's state (ServerClipStore::newRow).
    HistoryModelPtr row;
    // Set by write: the new row was inserted (a stored row took the server's state instead).
    bool inserted = false;
    // Set by write: the body file was written and the inserted row marks it present.
    bool bodyWritten = false;
};

// The one conversion from checked server clips to rows and body files, for the pull and the
// push channel's fetch.
class ServerClipStore {
public:
    explicit ServerClipStore(ServerClipRoad road);

    // The new row for a clip the store does not hold, its content read (decrypted) with the
    // current key; null when this road stores no row for it (no history id, another key,
    // content that does not open). keyMissing, when given, is set when the clip was left out
    // only for want of a usable key.
    HistoryModelPtr newRow(const ServerClip& clip, bool* keyMissing = nullptr) const;

    // Bodies first, then every row in one change, under the body lock and only while the
    // login of loginEpoch holds: a stored row of the hash takes only what the server owns
    // (DBKeeper::applyServerState), otherwise the arrival's new row, if any, is inserted.
    // False when nothing was stored (the login ended, or the change failed and was undone).
    bool write(std::vector<ServerClipArrival>& arrivals, quint64 loginEpoch) const;

private:
    ServerClipRoad m_road;
    // The current key's hash, asked once when first needed: every clip one store reads meets
    // the same key.
    mutable std::optional<std::optional<QString>> m_currentKey;
};
