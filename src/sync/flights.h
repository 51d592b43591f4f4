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
    // Made when the reply of a flight arrives and kept while it is applied: the flight has
    // landed (a new one of the hash may begin), and its waiters still wait. When it goes they
    // go to the main queue, unless a new flight of the hash started meanwhile (its own end
    // serves them).
    class Landing {
    public:
        Landing(Flights& flights, QString hash);
        ~Landing();
        Landing(const Landing&) = delete;
        Landing& operator=(const Landing&) = delete;

    private:
        Flights& m_flights;
        const QString m_hash;
    };
    bool contains(const QString& hash) const;
    // Runs `then` on the main queue once no flight of the hash is on its way; at once when none is.
    void after(const QString& hash, std::function<void()> then);

private:
    void land(const QString& hash);
    void end(const QString& hash);

    mutable QMutex m_mutex;
    QSet<QString> m_flying;
    QHash<QString, QList<std::function<void()>>> m_waiters;
};
