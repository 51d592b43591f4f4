#pragma once

#include <QMutex>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <vector>

struct Notification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

// Named notifications between layers. Posting is allowed from any thread; observers are
// always called on the main thread: directly when posted there, queued otherwise.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = quint64;

    static NotificationCenter& defaultCenter();

    // The observer lives until removed or until the optional owner object is destroyed.
    Token addObserver(const QString& name, QObject* owner, Observer observer);
    void removeObserver(Token token);
    // Removes every observer registered with this owner.
    void removeObserversOf(QObject* owner);

    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});
    // Always queued to the main thread, also when called there ("posted on the main queue").
    void postOnMain(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});

private:
    struct Entry {
        Token token;
        QString name;
        bool hasOwner;
        QPointer<QObject> owner;
        std::shared_ptr<Observer> observer;
    };
    void deliver(const Notification& notification);

    // Held only to read or change the list, never while an observer runs (an observer may
    // take any lock, add or remove observers).
    QMutex m_mutex;
    std::vector<Entry> m_entries;
    Token m_next = 1;
};
