#include "platform/usernotifications.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<UserNotifications>& slot()
{
    static CurrentImplementation<UserNotifications> implementation(&makeRealUserNotifications);
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
