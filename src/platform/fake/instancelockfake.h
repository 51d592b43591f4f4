#pragma once

#include "platform/instancelock.h"

// An in-memory lock. Set `heldByOther` to play a second start while another instance runs,
// `fails` for a lock file that cannot be written.
class InstanceLockFake : public InstanceLock {
public:
    Result tryLock() override;
    void unlock() override { m_locked = false; }
    bool isLocked() const override { return m_locked; }
    QString errorMessage() const override { return m_error; }

    bool heldByOther = false;
    bool fails = false;
    int attempts = 0;

private:
    bool m_locked = false;
    QString m_error;
};
