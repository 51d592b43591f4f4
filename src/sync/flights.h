#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>

// The requests of one kind in flight, by clip hash, and what waits for each to end. A step
// that finds its hash in flight reports it so instead of sending a second request; whoever
// must follow that request (the favourite worker after a post) waits here.
//
// Any thread. Its lock is the last one taken: nothing is called while it is held.
class Flights {
public:
    // Starts the flight of the hash; false when one is already on its way.
    bool begin(const QString& hash);
    // The reply has arrived; the waiters still wait for end().
    void land(const QString& hash);
    // The reply has been applied: the waiters go to the main queue, unless a new flight of the
    // hash started meanwhile (its own end serves them).
    void end(const QString& hash);
    bool contains(const QString& hash) const;
    // Runs `then` on the main queue once no flight of the hash is on its way; at once when none is.
    void after(const QString& hash, std::function<void()> then);

private:
    mutable QMutex m_mutex;
    QSet<QString> m_flying;
    QHash<QString, QList<std::function<void()>>> m_waiters;
};
