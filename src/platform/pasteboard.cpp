#include "platform/pasteboard.h"

#include "platform/currentimplementation.h"
#include "platform/dispatch.h"
#include "platform/realimplementations.h"

#include <QMutex>

namespace {
CurrentImplementation<Pasteboard>& slot()
{
    static CurrentImplementation<Pasteboard> implementation(&makeRealPasteboard);
    return implementation;
}

QMutex g_observerLock;
std::function<void()> g_observer;

void callObserver()
{
    std::function<void()> observer;
    {
        QMutexLocker lock(&g_observerLock);
        observer = g_observer;
    }
    if (observer)
        observer();
}
}  // namespace

Pasteboard& Pasteboard::general()
{
    return slot().get();
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard)
{
    slot().set(std::move(pasteboard));
}

void Pasteboard::setChangeObserver(std::function<void()> observer)
{
    QMutexLocker lock(&g_observerLock);
    g_observer = std::move(observer);
}

void Pasteboard::announceChange()
{
    if (dispatch::isMainThread())
        callObserver();
    else
        dispatch::mainAsync(callObserver);
}
