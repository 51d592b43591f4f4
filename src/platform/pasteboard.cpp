#include "platform/pasteboard.h"

#include "platform/currentimplementation.h"
#include "platform/systempasteboard.h"

namespace {
CurrentImplementation<Pasteboard>& slot()
{
    static CurrentImplementation<Pasteboard> implementation(
        []() -> std::shared_ptr<Pasteboard> { return std::make_shared<SystemPasteboard>(); });
    return implementation;
}
}  // namespace

Pasteboard& Pasteboard::general()
{
    return slot().get();
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard)
{
    slot().set(std::move(pasteboard));
}
