#pragma once

#include "sync/uploadworker.h"

// The history upload worker: pushes the pending changes of history clips, one clip at a
// time, newest first; when none is left it starts the file worker. Called from any thread
// by whatever may have made a pending change (capture, the menu's unlock action, the end of
// a pull, push messages); extra calls are harmless, at most one clip is in flight.
//
// Deletes go first: the newest tombstone with a server id (store/tombstones.h) is deleted on
// the server and forgotten once the service confirms it or answers it no longer has that id;
// a tombstone without an id waits until a post reply, pull or fetch names one. Then the clips:
// a clip with a server id is put, any other is posted. What each outcome does is the base's
// (uploadworker.h): sent clears the mark (a change made meanwhile stays pending), in flight
// waits for the other post of the clip, no key and transport failures park the worker, a
// refusal sets the clip aside until the next outside trigger; a transport failure or a 5xx
// also arms the retry timer.
//
// Threads and lock order: those of UploadWorker.
class HistoryService : public UploadWorker {
public:
    static HistoryService& sharedInstance();

private:
    HistoryService();
    Started startStep(const Step& step, const QStringList& setAside) override;
    // Under the lock: starts the delete of the next tombstone owed by this login, if any.
    bool startDelete(const Step& base, const QStringList& setAside);
    void whenIdle() override;
    void afterFlight(const QString& hash, std::function<void()> then) override;
};
