#pragma once

#include <QString>

#include <optional>

// The holder of the logged-in account's end-to-end key.
//
// Not built yet: no key is ever held, so the state reads 0 and there is no key hash.
class ZeroManager {
public:
    static ZeroManager& sharedInstance();

    // 1 when the logged-in user has a complete key pair (encryption set up), else 0.
    int state();
    // The key hash of the current key record; nothing without one.
    std::optional<QString> currentKeyHash();

private:
    ZeroManager() = default;
};
