#pragma once

#include "platform/keychain.h"

#include <QHash>
#include <QMutex>
#include <QPair>

// An in-memory keychain for tests. It can also play a store that cannot be reached.
class KeychainFake : public Keychain {
public:
    std::optional<QByteArray> passwordData(const QString& service, const QString& account,
                                           QString* error = nullptr) override;
    bool setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                         QString* error = nullptr) override;
    bool deletePassword(const QString& service, const QString& account, QString* error = nullptr) override;

    // Every call fails as with no Secret Service running.
    void setUnavailable(bool unavailable);
    bool contains(const QString& service, const QString& account) const;
    int itemCount() const;
    // How many lookups were made.
    int lookupCount() const;

private:
    mutable QMutex m_mutex;
    QHash<QPair<QString, QString>, QByteArray> m_items;
    bool m_unavailable = false;
    int m_lookups = 0;
};
