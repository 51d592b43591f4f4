#include "platform/usernotifications.h"

#include "platform/usernotificationsdbus.h"

#include <QMutex>

namespace {
QMutex g_mutex;
std::shared_ptr<UserNotifications> g_current;
}

UserNotifications& UserNotifications::current()
{
    QMutexLocker lock(&g_mutex);
    if (!g_current)
        g_current = std::make_shared<UserNotificationsDBus>();
    return *g_current;
}

void UserNotifications::setCurrent(std::shared_ptr<UserNotifications> notifications)
{
    QMutexLocker lock(&g_mutex);
    g_current = std::move(notifications);
}
