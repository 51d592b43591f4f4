#include "platform/keychain.h"

#include "platform/currentimplementation.h"
#include "platform/linux/keychainsecretservice.h"

namespace {
CurrentImplementation<Keychain>& slot()
{
    static CurrentImplementation<Keychain> implementation(
        []() -> std::shared_ptr<Keychain> { return std::make_shared<KeychainSecretService>(); });
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
