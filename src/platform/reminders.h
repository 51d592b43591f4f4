#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// A list that reminders are kept in.
struct ReminderList {
    QString identifier;
    QString title;
};

// One reminder to save.
struct Reminder {
    // The list it goes into (a ReminderList's identifier).
    QString listIdentifier;
    QString title;
    // Left out when empty or not valid.
    QUrl url;
    // Left out when not valid.
    QDateTime dueDate;
    // Absolute alarm times.
    QList<QDateTime> alarms;
};

struct ReminderSaveResult {
    bool saved = false;
    // Why not, when not saved.
    QString error;
};

// The user's reminders store. One store is made for each piece of work (create()), and its
// operations may be used from any thread.
class Reminders {
public:
    using AccessCompletion = std::function<void(bool granted, const QString& error)>;
    using Factory = std::function<std::shared_ptr<Reminders>()>;

    virtual ~Reminders() = default;

    // Asks for access to reminders. The completion runs once, later, on a thread of the
    // store's choosing (not necessarily the caller's, never within this call), granted or not.
    virtual void requestAccessToReminders(AccessCompletion completion) = 0;
    // The list new reminders go into; nothing when the store has none.
    virtual std::optional<ReminderList> defaultListForNewReminders() = 0;
    // Saves and commits the reminder at once.
    virtual ReminderSaveResult saveReminder(const Reminder& reminder) = 0;

    // A new store, made by the factory the app installs at start (tests install a fake).
    // Without one, a store that has no default list, so every save fails.
    static std::shared_ptr<Reminders> create();
    static void setFactory(Factory factory);
};
