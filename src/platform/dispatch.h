#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QThread;

// Queues in the shape the rest of the system expects: the main queue (the Qt event loop of
// the main thread), named serial queues (one thread each, with its own event loop so that
// network objects can live there) and the global default-priority queue (the thread pool).
namespace dispatch {

using Block = std::function<void()>;

// Runs the block later on the main thread's event loop.
void mainAsync(Block block);
// Runs the block on the global default-priority queue.
void globalAsync(Block block);
bool isMainThread();

}  // namespace dispatch

class SerialQueue {
public:
    explicit SerialQueue(const QString& name);
    // Runs what is already queued, then stops the thread.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& name() const { return m_name; }

    void async(dispatch::Block block);
    // Blocks the caller until the block has run. Calling it from the queue's own thread would
    // deadlock, so it is a fatal programming error.
    void sync(const dispatch::Block& block);
    void after(int milliseconds, dispatch::Block block);

    bool isCurrent() const;
    QThread* thread() const;
    // An object living on the queue's thread, for connections and timers that must fire there.
    QObject* context() const;

private:
    class Worker;
    QString m_name;
    std::unique_ptr<Worker> m_worker;
};
