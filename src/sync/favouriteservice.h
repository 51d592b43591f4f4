#pragma once

#include <QRecursiveMutex>

// The favourite upload worker: sends the newest changed favourite row, one at a time (a set
// favourite for a clip the server knows, else a post), and hands over to the file worker
// when none is left. After a success the row's pending mark is cleared (a newer change
// stays pending) and the next row goes; an error parks the worker until the next call.
//
// Lock order: m_mutex, then the database queue and the request managers' own locks.
class FavouriteService {
public:
    static FavouriteService& sharedInstance();

    // Starts sending the next changed favourite row unless one is in flight.
    void process();

    bool isRunning() const;

    // Tests only: idle; a completion still in flight is ignored.
    void resetForTesting();

private:
    FavouriteService() = default;

    mutable QRecursiveMutex m_mutex;  // guards the members below
    bool m_isRunning = false;
    quint64 m_generation = 0;
};
