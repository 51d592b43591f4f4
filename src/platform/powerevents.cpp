#include "platform/powerevents.h"

#include "platform/powereventslogind.h"

namespace {
std::shared_ptr<PowerEvents> g_current;
}

PowerEvents& PowerEvents::current()
{
    if (!g_current)
        g_current = std::make_shared<PowerEventsLogind>();
    return *g_current;
}

void PowerEvents::setCurrent(std::shared_ptr<PowerEvents> events)
{
    g_current = std::move(events);
}
