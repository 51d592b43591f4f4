#include "platform/notificationcenter.h"

#include "platform/dispatch.h"

#include <algorithm>

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, QObject* owner, Observer observer)
{
    QMutexLocker lock(&m_mutex);
    const Token token = m_next++;
    m_entries.push_back({token, name, owner != nullptr, QPointer<QObject>(owner),
                         std::make_shared<Observer>(std::move(observer))});
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_entries, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::removeObserversOf(QObject* owner)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_entries, [owner](const Entry& e) { return e.hasOwner && (e.owner == owner || e.owner.isNull()); });
}

void NotificationCenter::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    Notification n{name, object, userInfo};
    if (dispatch::isMainThread())
        deliver(n);
    else
        dispatch::mainAsync([this, n] { deliver(n); });
}

void NotificationCenter::postOnMain(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    Notification n{name, object, userInfo};
    dispatch::mainAsync([this, n] { deliver(n); });
}

void NotificationCenter::deliver(const Notification& notification)
{
    // Call outside the lock: an observer may add or remove observers.
    std::vector<std::shared_ptr<Observer>> targets;
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_entries, [](const Entry& e) { return e.hasOwner && e.owner.isNull(); });
        for (const Entry& e : m_entries)
            if (e.name == notification.name)
                targets.push_back(e.observer);
    }
    for (const auto& observer : targets)
        (*observer)(notification);
}
