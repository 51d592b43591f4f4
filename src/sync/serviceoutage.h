#pragma once

#include <atomic>

// Tells the user, once per outage, that copies cannot reach the sync service: the first
// upload that fails for want of an answer delivers one notification; the retries after it
// stay silent until an upload gets through again. Any thread.
class ServiceOutage {
public:
    static ServiceOutage& sharedInstance();

    // An upload got no usable answer (no connection, a time-out, an HTTP failure).
    void uploadFailed();
    // An upload was taken by the service: the outage, if any, is over.
    void uploadSucceeded();
    bool isDown() const { return m_down.load(); }

    // Tests only: no outage known.
    void resetForTesting() { m_down.store(false); }

private:
    ServiceOutage() = default;
    std::atomic<bool> m_down{false};
};
