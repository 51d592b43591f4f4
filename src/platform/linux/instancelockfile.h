#pragma once

#include "platform/instancelock.h"

#include <memory>

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

    QString lockFilePath() const { return m_path; }
    // The process holding the lock when tryLock last gave AlreadyRunning, else 0.
    qint64 ownerPid() const { return m_ownerPid; }

    static constexpr const char* FileName = "nuvarel.lock";

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    QString m_error;
    qint64 m_ownerPid = 0;
};
