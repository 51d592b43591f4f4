#pragma once

#include "platform/instancelock.h"

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

// The lock as the file "nuvarel.lock" in the application folder ("~/Library/Nuvarel"), holding
// the owner's process id. Held until unlock() or destruction; a process that dies leaves the
// file behind, and the next start sees that its process is gone and takes the lock over. A
// lock is never taken over for its age alone, however long the owner runs.
class InstanceLockFile : public InstanceLock {
public:
    // The folder is created when missing.
    explicit InstanceLockFile(const QString& folder);
    ~InstanceLockFile() override;

    InstanceLockFile(const InstanceLockFile&) = delete;
    InstanceLockFile& operator=(const InstanceLockFile&) = delete;

    Result tryLock() override;
    void unlock() override;
    bool isLocked() const override;
    QString errorMessage() const override;

    // A later start is refused by the lock; so that the user still sees the app come up, the
    // owner listens on the socket "nuvarel.socket" beside the lock file and runs the handler
    // (on the thread that called listen, through its event loop) when a refused start asks it
    // to come forward. Call after the lock was taken; false when the socket cannot be opened.
    bool listen(std::function<void()> onSecondStart);
    // From a start that got AlreadyRunning: asks the owner to come forward and waits (at most
    // two seconds) for its answer. True when the owner answered.
    bool askOwnerToComeForward();

    QString lockFilePath() const { return m_path; }
    QString socketPath() const { return m_socketPath; }
    // The process holding the lock when tryLock last gave AlreadyRunning, else 0.
    qint64 ownerPid() const { return m_ownerPid; }

    static constexpr const char* FileName = "nuvarel.lock";
    static constexpr const char* SocketName = "nuvarel.socket";

private:
    QString m_path;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_onSecondStart;
    QString m_error;
    qint64 m_ownerPid = 0;
};
