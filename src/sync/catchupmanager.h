#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QObject;

// Runs the history pull that catches up with what the push channel could not say. The
// channel's session is clean, so a clip announced while this device slept, was offline, had
// no key yet or while the broker was away is never delivered later: after each subscription
// of the channel and whenever a key becomes usable, one pull fetches it, then the history
// upload worker runs. The menu's pull goes through here too, so one pull runs at a time.
//
// A pull asked for while one is in flight runs once more after it: the running pull may have
// been answered before what the new request is about. Main thread only.
class CatchUpManager {
public:
    using Done = std::function<void()>;

    static CatchUpManager& sharedInstance();

    // Pulls now, or once more after the pull in flight. done (may be empty) runs on the main
    // thread when a pull started after this call has ended, whatever its outcome. Each pull
    // is followed by "DATA_CHANGED" and a pass of the history upload worker.
    void pull(Done done = {});
    bool isPulling() const { return m_running; }
    // The last pull that ended got no answer from the service (no connection, an HTTP failure).
    bool lastPullFailed() const { return m_lastPullFailed; }
    // From now on a key that becomes usable ("ZERO_CHANGED": set up, unlocked, or the first
    // one seen) is followed by a pull; the application calls it once at start.
    void observeKeyChanges();

    // Tests only: idle, no pull waiting, no key remembered, keys no longer observed; a pull
    // in flight is ignored.
    void resetForTesting();

private:
    CatchUpManager();
    ~CatchUpManager();
    void start();
    void finished(quint64 generation);
    // "ZERO_CHANGED": pulls when a key other than the last seen becomes usable.
    void keyChanged();

    QObject* m_context = nullptr;
    bool m_observing = false;
    bool m_running = false;
    bool m_again = false;
    bool m_lastPullFailed = false;
    // Callers waiting for the running pull, and for the next one.
    std::vector<Done> m_current;
    std::vector<Done> m_waiting;
    // The usable key last seen; none while there is none.
    std::optional<QString> m_keyHash;
    // Bumped by a reset, so a completion from before it is told apart.
    quint64 m_generation = 0;
};
