#pragma once

#include <QRecursiveMutex>
#include <QSet>
#include <QString>

// The history upload worker: pushes the pending changes of history clips, one clip at a
// time, newest first; when none is left it starts the file worker. Called from any thread
// by whatever may have made a pending change (capture, the menu's unlock action, the end of
// a pull, push messages); extra calls are harmless, at most one clip is in flight.
//
// After a success the pending mark is cleared (a change made meanwhile stays pending) and
// the next clip goes. A transport error parks the worker until the next outside call. A clip
// the server refuses with a code is set aside and logged so the clips behind it still go;
// it is tried again on the next outside call. A clip whose post is already in flight (the
// favourites worker's, or this worker's from before a logout) keeps its mark.
class HistoryService {
public:
    static HistoryService& sharedInstance();

    // An outside trigger: forgets the clips set aside, then goes on as next() does.
    void process();
    // Sends the next pending clip unless one is in flight or nobody is logged in.
    void next();

    bool isRunning() const;
    void setIsRunning(bool running);

    // Tests only: idle, nothing set aside; a completion still in flight is ignored.
    void resetForTesting();

private:
    HistoryService() = default;
    void finish(quint64 generation);

    // Guards every member; held while the next clip is chosen and its push starts.
    mutable QRecursiveMutex m_mutex;
    bool m_isRunning = false;
    // Hashes the server refused since the last outside trigger.
    QSet<QString> m_setAside;
    // Bumped by a reset, so a completion of an earlier test is told apart.
    quint64 m_generation = 0;
};
