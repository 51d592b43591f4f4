#include "sync/uploadworker.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "store/configuremanager.h"
#include "sync/replylogin.h"
#include "sync/serviceoutage.h"

#include <QMutexLocker>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <utility>

namespace {

// The last lock: taken under a worker's own lock to read or swap the source, nothing inside it.
QMutex g_timersMutex;
std::shared_ptr<TimerSource> g_timers;

std::shared_ptr<TimerSource> retryTimers()
{
    QMutexLocker lock(&g_timersMutex);
    if (!g_timers)
        g_timers = TimerSource::system();
    return g_timers;
}

}  // namespace

void UploadWorker::setTimerSourceForTesting(std::shared_ptr<TimerSource> timers)
{
    QMutexLocker lock(&g_timersMutex);
    g_timers = std::move(timers);
}

void UploadWorker::process()
{
    {
        QMutexLocker lock(&m_mutex);
        m_setAside.clear();
        cancelRetryLocked(true);
        // What the trigger brought (a copy, an unlock) may be behind the step in flight: it is
        // looked for once that step ends, however it ends.
        if (m_isRunning)
            m_triggeredInFlight = true;
    }
    next();
}

void UploadWorker::armRetryLocked()
{
    m_backoff = m_backoff.count() == 0 ? kFirstRetry : std::min(m_backoff * 2, kLongestRetry);
    const quint64 token = ++m_retryToken;
    m_retryArmed = true;
    spdlog::info("{}: retry in {} s", m_name, m_backoff.count() / 1000);
    // A repeating timer, so it can be cancelled; its first tick ends it.
    m_retryTimer = retryTimers()->repeating(m_backoff, [this, token] {
        // Not inside the timer's own tick: the tick destroys the timer.
        dispatch::mainAsync([this, token] { retryFired(token); });
    });
}

void UploadWorker::cancelRetryLocked(bool resetBackoff)
{
    if (resetBackoff)
        m_backoff = std::chrono::milliseconds(0);
    if (!m_retryArmed)
        return;
    m_retryArmed = false;
    const quint64 token = ++m_retryToken;
    if (dispatch::isMainThread()) {
        m_retryTimer.reset();
        return;
    }
    // The timer lives on the main queue; a timer armed meanwhile has another token and stays.
    dispatch::mainAsync([this, token] {
        QMutexLocker lock(&m_mutex);
        if (token == m_retryToken)
            m_retryTimer.reset();
    });
}

void UploadWorker::retryFired(quint64 token)
{
    {
        QMutexLocker lock(&m_mutex);
        if (token != m_retryToken || !m_retryArmed)
            return;
        m_retryArmed = false;
        m_retryTimer.reset();
    }
    // Not an outside trigger: the back-off goes on if this one fails too.
    next();
}

std::chrono::milliseconds UploadWorker::retryDelay() const
{
    QMutexLocker lock(&m_mutex);
    return m_retryArmed ? m_backoff : std::chrono::milliseconds(0);
}

void UploadWorker::followLoginLocked()
{
    const quint64 epoch = ReplyLogin::current();
    if (epoch == m_loginEpoch)
        return;
    m_loginEpoch = epoch;
    ++m_generation;
    m_isRunning = false;
    m_triggeredInFlight = false;
    m_setAside.clear();
    cancelRetryLocked(true);
}

void UploadWorker::next()
{
    QMutexLocker lock(&m_mutex);
    followLoginLocked();
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_isRunning = false;
        cancelRetryLocked(true);
        return;
    }
    if (m_isRunning)
        return;
    for (;;) {
        const Step step{m_generation, m_loginEpoch, QString()};
        m_isRunning = true;
        const Started started = startStep(step, QStringList(m_setAside.cbegin(), m_setAside.cend()));
        if (started == Started::Step)
            return;
        m_isRunning = false;
        if (started == Started::Nothing)
            break;
    }
    lock.unlock();
    whenIdle();
}

void UploadWorker::complete(const Step& step, const StepOutcome& outcome, const std::function<bool()>& clearMark)
{
    // The user hears of an outage once, here where a failure is told from a refusal; a 5xx is
    // the service (or the proxy before it) not answering too.
    if (outcome.kind == StepOutcome::Kind::TransportFailure || outcome.kind == StepOutcome::Kind::Later)
        ServiceOutage::sharedInstance().uploadFailed();
    else if (outcome.kind == StepOutcome::Kind::Sent)
        ServiceOutage::sharedInstance().uploadSucceeded();
    // Every write of the completion belongs to the step's login.
    QMutexLocker lock(&m_mutex);
    followLoginLocked();
    if (step.generation != m_generation)
        return;
    m_isRunning = false;
    const bool triggered = std::exchange(m_triggeredInFlight, false);
    const quint64 generation = m_generation;
    auto goOn = [this] { dispatch::mainAsync([this] { next(); }); };
    switch (outcome.kind) {
    case StepOutcome::Kind::Sent:
        cancelRetryLocked(true);
        [[fallthrough]];
    case StepOutcome::Kind::Unsendable:
        if (clearMark && !clearMark())
            setAsideLocked(step.hash, "its pending mark could not be cleared");
        return goOn();
    case StepOutcome::Kind::InFlight:
        // Passed over for now; looked at again once its own flight has ended.
        m_setAside.insert(step.hash);
        lock.unlock();
        afterFlight(step.hash, [this, generation, hash = step.hash] {
            {
                QMutexLocker lock(&m_mutex);
                if (generation != m_generation)
                    return;
                m_setAside.remove(hash);
            }
            next();
        });
        return goOn();
    case StepOutcome::Kind::Refused:
        spdlog::warn("{}: {} refused (code {}); passed over until the next trigger", m_name,
                     step.hash.toStdString(), outcome.code);
        m_setAside.insert(step.hash);
        return goOn();
    case StepOutcome::Kind::NoKey:
        // Parked until the next trigger (an unlock is one); the row keeps its mark.
        if (triggered)
            return goOn();
        return;
    case StepOutcome::Kind::TransportFailure:
    case StepOutcome::Kind::Later:
        // Parked until the retry or the next trigger; the row keeps its mark.
        spdlog::warn("{}: {} not sent ({}{})", m_name, step.hash.toStdString(),
                     outcome.kind == StepOutcome::Kind::Later ? "the service answered " : "no answer",
                     outcome.kind == StepOutcome::Kind::Later ? std::to_string(outcome.code) : std::string());
        // A trigger met on the way is a try now; a failure of that one arms the retry.
        if (triggered)
            return goOn();
        armRetryLocked();
        return;
    }
}

void UploadWorker::afterFlight(const QString&, std::function<void()> then)
{
    dispatch::mainAsync(std::move(then));
}

void UploadWorker::setAsideLocked(const QString& hash, const char* why)
{
    spdlog::warn("{}: {} passed over until the next trigger ({})", m_name, hash.toStdString(), why);
    m_setAside.insert(hash);
}

bool UploadWorker::isRunning() const
{
    QMutexLocker lock(&m_mutex);
    return m_isRunning;
}

void UploadWorker::setIsRunningForTesting(bool running)
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = running;
}

void UploadWorker::resetForTesting()
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = false;
    m_triggeredInFlight = false;
    m_setAside.clear();
    cancelRetryLocked(true);
    ++m_generation;
    m_loginEpoch = ReplyLogin::current();
}

UploadWorker::Step UploadWorker::stepFor(const Step& base, const HistoryModelPtr& row)
{
    Step step = base;
    step.hash = row->file_hash().value_or(QString());
    return step;
}

bool UploadWorker::hasServerId(const HistoryModelPtr& row)
{
    return NumberReader::wholeNumber(row->history_id()).value_or(0) != 0;
}
