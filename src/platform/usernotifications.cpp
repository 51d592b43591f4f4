#include "platform/usernotifications.h"

#include "platform/currentimplementation.h"
#include "platform/linux/usernotificationsdbus.h"

namespace {
CurrentImplementation<UserNotifications>& slot()
{
    static CurrentImplementation<UserNotifications> implementation(
        []() -> std::shared_ptr<UserNotifications> { return std::make_shared<UserNotificationsDBus>(); });
    return implementation;
}
}  // namespace

UserNotifications& UserNotifications::current()
{
    return slot().get();
}

void UserNotifications::setCurrent(std::shared_ptr<UserNotifications> notifications)
{
    slot().set(std::move(notifications));
}
