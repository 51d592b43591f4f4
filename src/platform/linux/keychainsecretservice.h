#pragma once

#include "platform/keychain.h"

// The desktop's Secret Service (GNOME Keyring, KWallet's bridge, KeePassXC) through libsecret's
// synchronous calls. Items carry the attributes "service" and "account". When no Secret Service
// answers, nothing is stored and a line is logged.
class KeychainSecretService : public Keychain {
public:
    std::optional<QByteArray> passwordData(const QString& service, const QString& account,
                                           QString* error = nullptr) override;
    bool setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                         QString* error = nullptr) override;
    bool deletePassword(const QString& service, const QString& account, QString* error = nullptr) override;
};
