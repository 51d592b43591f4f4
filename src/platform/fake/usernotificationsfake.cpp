#include "platform/fake/usernotificationsfake.h"

void UserNotificationsFake::deliverNotification(const UserNotification& notification)
{
    QMutexLocker lock(&m_mutex);
    m_delivered.append(notification);
}

QList<UserNotification> UserNotificationsFake::delivered() const
{
    QMutexLocker lock(&m_mutex);
    return m_delivered;
}

qsizetype UserNotificationsFake::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_delivered.size();
}

void UserNotificationsFake::clear()
{
    QMutexLocker lock(&m_mutex);
    m_delivered.clear();
}
