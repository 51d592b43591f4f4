#include "platform/reminders.h"

#include "platform/realimplementations.h"

#include <QMutex>

#include <spdlog/spdlog.h>

namespace {
QMutex g_mutex;
Reminders::Factory g_factory;
}

std::shared_ptr<Reminders> Reminders::create()
{
    Factory factory;
    {
        QMutexLocker lock(&g_mutex);
        factory = g_factory;
    }
    if (factory)
        if (auto store = factory())
            return store;
    spdlog::error("no reminders store configured");
    return makeFallbackReminders();
}

void Reminders::setFactory(Factory factory)
{
    QMutexLocker lock(&g_mutex);
    g_factory = std::move(factory);
}
