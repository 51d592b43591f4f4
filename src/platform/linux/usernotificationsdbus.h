#pragma once

#include "platform/usernotifications.h"

#include <functional>
#include <memory>

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus): title, body, image and sound.
// When no service answers (no session bus, nothing owning the name, an error reply or no
// reply in time) the notification goes to the fallback instead, so it is never lost silently.
class UserNotificationsDBus : public UserNotifications {
public:
    using Fallback = std::function<void(const UserNotification&)>;

    // An empty address means the user's session bus; tests pass a private bus.
    explicit UserNotificationsDBus(const QString& busAddress = QString());
    // Replies still on their way after this are dropped, fallback included.
    ~UserNotificationsDBus() override;

    UserNotificationsDBus(const UserNotificationsDBus&) = delete;
    UserNotificationsDBus& operator=(const UserNotificationsDBus&) = delete;

    void deliverNotification(const UserNotification& notification) override;

    // Shows a notification no service took; called on the main thread. The tray icon sets
    // its own message here once it exists; until then such notifications are only logged.
    void setFallback(Fallback fallback);

    // Longest side of an image sent along; larger images are scaled down to it.
    static constexpr int kMaxImageSide = 256;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
