#include "platform/globalhotkey.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<GlobalHotkey>& slot()
{
    static CurrentImplementation<GlobalHotkey> implementation(&makeRealGlobalHotkey);
    return implementation;
}
}  // namespace

GlobalHotkey& GlobalHotkey::current()
{
    return slot().get();
}

void GlobalHotkey::setCurrent(std::shared_ptr<GlobalHotkey> monitor)
{
    slot().set(std::move(monitor));
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
