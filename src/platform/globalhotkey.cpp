#include "platform/globalhotkey.h"

#include "platform/x11/globalhotkeyx11.h"

namespace {
std::shared_ptr<GlobalHotkey> g_current;
}

GlobalHotkey& GlobalHotkey::current()
{
    if (!g_current)
        g_current = std::make_shared<GlobalHotkeyX11>();
    return *g_current;
}

void GlobalHotkey::setCurrent(std::shared_ptr<GlobalHotkey> monitor)
{
    g_current = std::move(monitor);
}

const char* GlobalHotkey::statusName(Status status)
{
    switch (status) {
    case Status::Registered:
        return "registered";
    case Status::Off:
        return "off";
    case Status::UnknownKey:
        return "unknown key";
    case Status::Taken:
        return "taken by another program";
    case Status::Unavailable:
        return "unavailable";
    }
    return "?";
}
