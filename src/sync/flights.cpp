#include "sync/flights.h"

#include "platform/dispatch.h"

#include <QMutexLocker>

#include <utility>

bool Flights::begin(const QString& hash)
{
    QMutexLocker lock(&m_mutex);
    if (m_flying.contains(hash))
        return false;
    m_flying.insert(hash);
    return true;
}

Flights::Landing::Landing(Flights& flights, QString hash)
    : m_flights(flights), m_hash(std::move(hash))
{
    m_flights.land(m_hash);
}

Flights::Landing::~Landing()
{
    m_flights.end(m_hash);
}

void Flights::land(const QString& hash)
{
    QMutexLocker lock(&m_mutex);
    m_flying.remove(hash);
}

void Flights::end(const QString& hash)
{
    QList<std::function<void()>> waiters;
    {
        QMutexLocker lock(&m_mutex);
        if (m_flying.contains(hash))
            return;
        waiters = m_waiters.take(hash);
    }
    for (auto& then : waiters)
        dispatch::mainAsync(std::move(then));
}

bool Flights::contains(const QString& hash) const
{
    QMutexLocker lock(&m_mutex);
    return m_flying.contains(hash);
}

void Flights::after(const QString& hash, std::function<void()> then)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_flying.contains(hash)) {
            m_waiters[hash].append(std::move(then));
            return;
        }
    }
    dispatch::mainAsync(std::move(then));
}
