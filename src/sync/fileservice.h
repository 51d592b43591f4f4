#pragma once

#include <QRecursiveMutex>
#include <QSet>
#include <QString>

// The file worker: moves clip bodies between this machine and the object store, one at a
// time, newest first, after the upload workers have sent their rows: an upload when the
// server lacks the body, a download when this machine lacks it. Each download posts
// "FILE_DOWNLOAD_DONE" with the clip, and "ALL_FILE_DOWNLOAD_DONE" once no body is left.
//
// A body that cannot move for a reason of its own (missing here, too large, a kind that does
// not sync, a body that fails its checks) is set aside until the next outside trigger so the
// bodies behind it still move; a transport error parks the worker until that trigger.
//
// Lock order: m_mutex, then the database queue. Completions take m_mutex again.
class FileService {
public:
    static FileService& sharedInstance();

    // An outside trigger: forgets the bodies set aside, then goes on as next() does.
    void process();
    // Starts moving the next body unless one is in flight or nobody is logged in.
    void next();

    bool isRunning() const;

    // Tests only: idle, nothing set aside; a completion still in flight is ignored.
    void resetForTesting();

private:
    FileService() = default;
    // After a transfer: idle again; on success (or a body set aside) the next one goes.
    void finished(quint64 generation, bool goOn);

    mutable QRecursiveMutex m_mutex;  // guards the members below
    bool m_isRunning = false;
    QSet<QString> m_setAside;
    quint64 m_generation = 0;
};
