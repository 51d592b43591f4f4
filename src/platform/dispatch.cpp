#include "platform/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace dispatch {

void mainAsync(Block block)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qWarning("dispatch::mainAsync without an application object; block dropped");
        return;
    }
    QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

void globalAsync(Block block)
{
    QThreadPool::globalInstance()->start(std::move(block));
}

bool isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace dispatch

class SerialQueue::Worker : public QThread {
public:
    explicit Worker(const QString& name)
    {
        setObjectName(name);
        start();
        m_ready.acquire();
    }

    QObject* context() const
    {
        QMutexLocker lock(&m_lock);
        return m_context;
    }

    // Queues the block on the loop; false once the loop has ended (the block is dropped).
    bool post(dispatch::Block block)
    {
        QMutexLocker lock(&m_lock);
        if (!m_context)
            return false;
        QMetaObject::invokeMethod(m_context, std::move(block), Qt::QueuedConnection);
        return true;
    }

protected:
    void run() override
    {
        QObject context;
        {
            QMutexLocker lock(&m_lock);
            m_context = &context;
        }
        m_ready.release();
        exec();
        // Timers and posted blocks still pending die with the context; nothing is posted to
        // it after this (the loop may end before the queue object goes, e.g. at exit).
        QMutexLocker lock(&m_lock);
        QCoreApplication::removePostedEvents(&context);
        m_context = nullptr;
    }

private:
    QSemaphore m_ready;
    // Guards m_context against the loop ending while another thread posts to it.
    mutable QMutex m_lock;
    QObject* m_context = nullptr;
};

SerialQueue::SerialQueue(const QString& name)
    : m_name(name)
    , m_worker(std::make_unique<Worker>(name))
{
}

SerialQueue::~SerialQueue()
{
    if (isCurrent())
        qFatal("SerialQueue \"%s\" destroyed from its own thread", qPrintable(m_name));
    Worker* worker = m_worker.get();
    // Queued after everything already posted, so pending blocks run first. A loop that has
    // already ended needs no quit.
    worker->post([worker] { worker->quit(); });
    worker->wait();
}

void SerialQueue::async(dispatch::Block block)
{
    if (!m_worker->post(std::move(block)))
        qWarning("SerialQueue \"%s\" has stopped; block dropped", qPrintable(m_name));
}

void SerialQueue::sync(const dispatch::Block& block)
{
    if (isCurrent())
        qFatal("SerialQueue::sync called on queue \"%s\" from its own thread", qPrintable(m_name));
    QObject* context = m_worker->context();
    if (!context) {
        qWarning("SerialQueue \"%s\" has stopped; block not run", qPrintable(m_name));
        return;
    }
    QMetaObject::invokeMethod(context, [&block] { block(); }, Qt::BlockingQueuedConnection);
}

void SerialQueue::after(int milliseconds, dispatch::Block block)
{
    QObject* context = m_worker->context();
    async([context, milliseconds, block = std::move(block)]() mutable {
        QTimer::singleShot(milliseconds, context, std::move(block));
    });
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == m_worker.get();
}

QThread* SerialQueue::thread() const
{
    return m_worker.get();
}

QObject* SerialQueue::context() const
{
    return m_worker->context();
}
