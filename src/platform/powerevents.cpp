#include "platform/powerevents.h"

#include "platform/currentimplementation.h"
#include "platform/linux/powereventslogind.h"

namespace {
CurrentImplementation<PowerEvents>& slot()
{
    static CurrentImplementation<PowerEvents> implementation(
        []() -> std::shared_ptr<PowerEvents> { return std::make_shared<PowerEventsLogind>(); });
    return implementation;
}
}  // namespace

PowerEvents& PowerEvents::current()
{
    return slot().get();
}

void PowerEvents::setCurrent(std::shared_ptr<PowerEvents> events)
{
    slot().set(std::move(events));
}
