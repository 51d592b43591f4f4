#include "platform/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
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

    QObject* context() const { return m_context; }

protected:
    void run() override
    {
        QObject context;
        m_context = &context;
        m_ready.release();
        exec();
        // Timers and posted blocks still pending die with the context.
        QCoreApplication::removePostedEvents(&context);
        m_context = nullptr;
    }

private:
    QSemaphore m_ready;
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
    // Queued after everything already posted, so pending blocks run first.
    QMetaObject::invokeMethod(worker->context(), [worker] { worker->quit(); }, Qt::QueuedConnection);
    worker->wait();
}

void SerialQueue::async(dispatch::Block block)
{
    QMetaObject::invokeMethod(m_worker->context(), std::move(block), Qt::QueuedConnection);
}

void SerialQueue::sync(const dispatch::Block& block)
{
    if (isCurrent())
        qFatal("SerialQueue::sync called on queue \"%s\" from its own thread", qPrintable(m_name));
    QMetaObject::invokeMethod(m_worker->context(), [&block] { block(); }, Qt::BlockingQueuedConnection);
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
