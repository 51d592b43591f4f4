#include "platform/pasteboard.h"

#include "platform/systempasteboard.h"

#include <QMutex>

namespace {
QMutex g_mutex;
std::shared_ptr<Pasteboard> g_general;
}  // namespace

Pasteboard& Pasteboard::general()
{
    QMutexLocker lock(&g_mutex);
    if (!g_general)
        g_general = std::make_shared<SystemPasteboard>();
    return *g_general;
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard)
{
    QMutexLocker lock(&g_mutex);
    g_general = std::move(pasteboard);
}
