#include "platform/powerevents.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<PowerEvents>& slot()
{
    static CurrentImplementation<PowerEvents> implementation(&makeRealPowerEvents);
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
