#pragma once

#include <QImage>
#include <QString>

#include <memory>

// One notification shown to the user on the desktop.
struct UserNotification {
    QString title;
    QString informativeText;
    // Shown beside the text when set.
    QImage contentImage;
    // The desktop's default notification sound.
    bool playsDefaultSound = true;
};

// The desktop's notification service. Delivery may be asked for from any thread; it never
// blocks the caller and reports nothing back: a notification the desktop cannot show is
// logged and dropped.
class UserNotifications {
public:
    virtual ~UserNotifications() = default;

    virtual void deliverNotification(const UserNotification& notification) = 0;

    // The service the rest of the system uses: the freedesktop one unless replaced.
    static UserNotifications& current();
    // Replaces the current service (the app at start, tests); nullptr restores the default.
    static void setCurrent(std::shared_ptr<UserNotifications> notifications);
};
