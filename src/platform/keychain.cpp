#include "platform/keychain.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<Keychain>& slot()
{
    static CurrentImplementation<Keychain> implementation(&makeRealKeychain);
    return implementation;
}
}  // namespace

Keychain& Keychain::current()
{
    return slot().get();
}

void Keychain::setCurrent(std::shared_ptr<Keychain> keychain)
{
    slot().set(std::move(keychain));
}
