#include "sync/fetchlimiter.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <spdlog/spdlog.h>

FetchLimiter::FetchLimiter(Start pull) : m_pull(std::move(pull))
{
    m_context = new QObject;
    m_pullTimer = new QTimer(m_context);
    m_pullTimer->setSingleShot(true);
    QObject::connect(m_pullTimer, &QTimer::timeout, m_context, [this] { startPull(); });
    if (QCoreApplication::instance() && m_context->thread() != QCoreApplication::instance()->thread())
        m_context->moveToThread(QCoreApplication::instance()->thread());
}

FetchLimiter::~FetchLimiter()
{
    delete m_context;
}

void FetchLimiter::fetch(const QString& key, const Start& start)
{
    if (const auto running = m_fetching.find(key); running != m_fetching.end()) {
        running->again = true;
        return;
    }
    if (m_pullMode || m_fetching.size() >= kMaxFetches) {
        if (!m_pullMode)
            spdlog::info("sync: more push messages than fetches allowed; the rest waits for one pull");
        m_pullMode = true;
        pull();
        return;
    }
    m_fetching.insert(key, Running{start, false});
    runFetch(key);
}

void FetchLimiter::runFetch(const QString& key)
{
    const quint64 epoch = m_epoch;
    const Start start = m_fetching.value(key).start;
    start([this, key, epoch] {
        if (epoch != m_epoch)
            return;
        const auto running = m_fetching.find(key);
        if (running == m_fetching.end())
            return;
        if (!running->again) {
            m_fetching.erase(running);
            return;
        }
        running->again = false;
        runFetch(key);
    });
}

void FetchLimiter::pull()
{
    m_pullWanted = true;
    schedulePull();
}

void FetchLimiter::schedulePull()
{
    if (m_pullRunning || m_pullTimer->isActive())
        return;
    const qint64 since = m_lastPull.isValid() ? m_lastPull.elapsed() : qint64(kPullSpacingMs);
    if (since >= kPullSpacingMs)
        startPull();
    else
        m_pullTimer->start(int(kPullSpacingMs - since));
}

void FetchLimiter::startPull()
{
    if (!m_pullWanted || m_pullRunning)
        return;
    m_pullWanted = false;
    m_pullRunning = true;
    m_lastPull.start();
    const quint64 epoch = m_epoch;
    m_pull([this, epoch] { pullEnded(epoch); });
}

void FetchLimiter::pullEnded(quint64 epoch)
{
    if (epoch != m_epoch)
        return;
    m_pullRunning = false;
    if (m_pullWanted)
        schedulePull();
    else
        m_pullMode = false;
}

bool FetchLimiter::isIdle() const
{
    return m_fetching.isEmpty() && !m_pullRunning && !m_pullWanted && !m_pullTimer->isActive();
}

void FetchLimiter::reset()
{
    ++m_epoch;
    m_fetching.clear();
    m_pullWanted = false;
    m_pullRunning = false;
    m_pullMode = false;
    m_pullTimer->stop();
    m_lastPull.invalidate();
}
