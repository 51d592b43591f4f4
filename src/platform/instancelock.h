#pragma once

#include <QString>

// Keeps a second copy of the application from running for the same user, so two processes never
// share the history database and the clipboard. The first start takes the lock and keeps it for
// its lifetime; a later start is refused and tells the user why. A lock left behind by a process
// that has died is taken over.
class InstanceLock {
public:
    enum class Result {
        Acquired,
        // Another running process holds the lock.
        AlreadyRunning,
        // The lock file could not be written (no permission, disk full).
        Failed,
    };

    virtual ~InstanceLock() = default;

    // Taking the lock again while holding it gives Acquired.
    virtual Result tryLock() = 0;
    virtual void unlock() = 0;
    virtual bool isLocked() const = 0;
    // For the user, after tryLock gave no lock: who holds it, or what went wrong.
    virtual QString errorMessage() const = 0;
};
