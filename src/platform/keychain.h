#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// Generic-password items, one per (service, account): the store the end-to-end key is kept in.
// Callable from any thread. Failures come back as values with an optional message; they are
// never turned into a plaintext file.
class Keychain {
public:
    virtual ~Keychain() = default;

    // The item's data; none when there is no item or the store cannot be reached.
    virtual std::optional<QByteArray> passwordData(const QString& service, const QString& account,
                                                   QString* error = nullptr) = 0;
    // Creates or replaces the item.
    virtual bool setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                                 QString* error = nullptr) = 0;
    // True when an item was deleted.
    virtual bool deletePassword(const QString& service, const QString& account, QString* error = nullptr) = 0;

    // The keychain the rest of the system uses: the desktop's Secret Service unless replaced.
    static Keychain& current();
    // Replaces it (tests); nullptr goes back to the Secret Service.
    static void setCurrent(std::shared_ptr<Keychain> keychain);
};
