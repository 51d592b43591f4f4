#include "platform/fake/keychainfake.h"

namespace {
const QString kUnavailable = QStringLiteral("no keychain service");

bool fail(QString* error)
{
    if (error)
        *error = kUnavailable;
    return false;
}
}  // namespace

std::optional<QByteArray> KeychainFake::passwordData(const QString& service, const QString& account,
                                                     QString* error)
{
    QMutexLocker lock(&m_mutex);
    ++m_lookups;
    if (m_unavailable) {
        fail(error);
        return std::nullopt;
    }
    const auto it = m_items.constFind({service, account});
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

bool KeychainFake::setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                                   QString* error)
{
    QMutexLocker lock(&m_mutex);
    if (m_unavailable)
        return fail(error);
    m_items.insert({service, account}, data);
    return true;
}

bool KeychainFake::deletePassword(const QString& service, const QString& account, QString* error)
{
    QMutexLocker lock(&m_mutex);
    if (m_unavailable)
        return fail(error);
    return m_items.remove({service, account}) > 0;
}

void KeychainFake::setUnavailable(bool unavailable)
{
    QMutexLocker lock(&m_mutex);
    m_unavailable = unavailable;
}

bool KeychainFake::contains(const QString& service, const QString& account) const
{
    QMutexLocker lock(&m_mutex);
    return m_items.contains({service, account});
}

int KeychainFake::itemCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_items.size());
}

int KeychainFake::lookupCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_lookups;
}
