#pragma once

#include "platform/timersource.h"
#include "store/historymodel.h"
#include "sync/stepoutcome.h"

#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

// What the three upload workers (history rows, favourite rows, clip bodies) share: one step
// in flight at a time, the rows set aside until the next outside trigger, the logged-in check,
// and what the outcome of a step means for the worker.
//
// Threads: process() and next() may be called from any thread (capture, the main queue, the
// "data manager" queue of a pull); a step starts on the calling thread under the worker's
// lock; every completion arrives on the main queue.
//
// Generation: a step belongs to the worker's generation and the login epoch it started under.
// The generation moves on at every login and logout (noticed at the next call or completion)
// and at resetForTesting, so a completion of an earlier login does nothing, and a step of an
// ended login never keeps the worker busy.
//
// Retry: a transport failure or an answer that may pass later (5xx) arms one timer of the
// worker, 30 s, doubling up to 10 minutes while the failures go on; success and every outside
// trigger (process) reset it. The timer exists only while a step failed so (nothing runs while
// nothing is pending); it is made, fired and destroyed on the main queue. A trigger that comes
// while a step is in flight is kept: once that step ends, whatever its outcome, the worker looks
// for the next step at once, so a copy made during a failing request does not wait for the retry.
//
// Lock order, for all three workers: a worker's own lock, then the database queue, then the
// request managers' task locks (never the other way round); the timer-source lock last. No
// worker takes another worker's lock while holding its own: the hand-over to the file worker
// runs after the lock is released. The lock is never re-entered: what a step starts under it
// answers on the main queue, and afterFlight and whenIdle run after it is released.
class UploadWorker {
public:
    virtual ~UploadWorker() = default;

    // An outside trigger: forgets the rows set aside, then goes on as next() does.
    void process();
    // Starts the next step unless one is in flight or nobody is logged in.
    void next();

    bool isRunning() const;

    // Tests only: idle, nothing set aside, no retry armed; a completion still in flight is ignored.
    void resetForTesting();
    // Tests only: as if a step were in flight (or not), without one.
    void setIsRunningForTesting(bool running);
    // Tests only: the timers every worker's retry runs on (nothing: the system's).
    static void setTimerSourceForTesting(std::shared_ptr<TimerSource> timers);
    // The delay of the armed retry; 0 when none is armed.
    std::chrono::milliseconds retryDelay() const;

    static constexpr std::chrono::milliseconds kFirstRetry{std::chrono::seconds(30)};
    static constexpr std::chrono::milliseconds kLongestRetry{std::chrono::minutes(10)};

protected:
    // name: how the worker's log lines begin.
    explicit UploadWorker(const char* name)
        : m_name(name)
    {
    }

    // The step a completion belongs to.
    struct Step {
        quint64 generation = 0;
        quint64 loginEpoch = 0;
        QString hash;
    };
    // What one call of startStep did.
    enum class Started { Step, Nothing, SetAside, Settled };

    // Under the lock: picks the next row (passing over the set-aside hashes) and starts its
    // step with a completion that calls complete(); Nothing when no row is left; SetAside
    // after setting a row aside, Settled after finishing a row at once without a request (in
    // both cases the worker then looks for the next one at once).
    virtual Started startStep(const Step& step, const QStringList& setAside) = 0;
    // After the worker went idle with nothing left (outside the lock).
    virtual void whenIdle() {}
    // Called when an in-flight clip's own flight ends; runs `then` on the main queue.
    virtual void afterFlight(const QString& hash, std::function<void()> then);

    // The completion of a step, on the main queue. clearMark runs only for Sent and
    // Unsendable, inside the step's login; false from it (the update failed) sets the row aside
    // instead of picking it again for ever.
    void complete(const Step& step, const StepOutcome& outcome, const std::function<bool()>& clearMark);
    // The step of a row: the worker's step with the row's hash (empty when the row has none).
    static Step stepFor(const Step& base, const HistoryModelPtr& row);
    // The server knows the row's clip (it has a history id): it is updated there, not posted.
    static bool hasServerId(const HistoryModelPtr& row);
    // Under the lock (from startStep): the row is passed over until the next outside trigger.
    void setAsideLocked(const QString& hash, const char* why);

private:
    // The login moved on since the last step: a new generation.
    void followLoginLocked();
    // Under the lock, on the main queue: the retry after a failure, its delay the back-off's next.
    void armRetryLocked();
    // Under the lock, any thread: no retry armed; resetBackoff starts the back-off over.
    void cancelRetryLocked(bool resetBackoff);
    // The armed timer fired (main queue).
    void retryFired(quint64 token);

    const char* const m_name;
    // The worker's own lock: 1 in the lock order of docs/ARCHITECTURE.md; never re-entered.
    mutable QMutex m_mutex;
    bool m_isRunning = false;
    // An outside trigger came while a step was in flight.
    bool m_triggeredInFlight = false;
    QSet<QString> m_setAside;
    quint64 m_generation = 0;
    quint64 m_loginEpoch = 0;
    // The delay of the last retry armed (0: none since the last reset), the armed timer's
    // token (a cancelled timer's fire does nothing), and the timer (main queue only).
    std::chrono::milliseconds m_backoff{0};
    quint64 m_retryToken = 0;
    bool m_retryArmed = false;
    std::unique_ptr<TimerSource::Repeating> m_retryTimer;
};
