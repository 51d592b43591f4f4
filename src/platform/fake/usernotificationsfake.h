#pragma once

#include "platform/usernotifications.h"

#include <QList>
#include <QMutex>

// Keeps every delivered notification in memory, in order; safe to deliver from any thread.
class UserNotificationsFake : public UserNotifications {
public:
    void deliverNotification(const UserNotification& notification) override;

    QList<UserNotification> delivered() const;
    qsizetype count() const;
    void clear();

private:
    mutable QMutex m_mutex;
    QList<UserNotification> m_delivered;
};
