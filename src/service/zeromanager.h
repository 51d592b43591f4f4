#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

// The holder of the logged-in account's end-to-end key.
//
// Not built yet: no key is ever held, so the state reads 0, there are no key or cipher
// hashes and every server key check agrees. Sealing to the server's public key is real.
class ZeroManager {
public:
    static ZeroManager& sharedInstance();

    // 1 when the logged-in user has a complete key pair (encryption set up), else 0.
    int state();
    // The key hash of the current key record; nothing without one.
    std::optional<QString> currentKeyHash();
    // The cipher hash of the current wrapped-key record; nothing without one.
    std::optional<QString> currentCipherHash();
    // Compares a reply's "cipher" object with the current key; drops the local key when the
    // server holds another one (false). True when they agree or there is nothing to compare.
    bool checkServerCipher(const QVariant& cipher);
    // A sealed box of the data to the server's public key (data + 48 bytes); nothing unless
    // the key is exactly 32 bytes, or when sealing fails.
    std::optional<QByteArray> encryptDataWithSealedPublicKey(const QByteArray& data, const QByteArray& publicKey);

private:
    ZeroManager() = default;
};
