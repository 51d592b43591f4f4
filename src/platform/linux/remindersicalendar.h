#pragma once

#include "platform/reminders.h"
#include "platform/linux/remindersicalendarformat.h"

#include <QObject>

// Reminders kept as VTODO items, each with a display alarm, in one iCalendar file of the
// application's own. A save adds its item to those already in the file and replaces the file
// atomically; saves from several threads or stores of the same process never lose each
// other's items. A file that is there but is not a calendar is never overwritten: saving
// fails instead.
class RemindersICalendar : public Reminders {
public:
    static inline const QString kDefaultListIdentifier = QStringLiteral("nuvarel-reminders");
    static inline const QString kDefaultListTitle = QStringLiteral("提醒事项");

    // An empty path gives a store without a default list.
    explicit RemindersICalendar(const QString& filePath);

    // Always granted: the file is the application's own. The completion runs on the global
    // queue.
    void requestAccessToReminders(AccessCompletion completion) override;
    std::optional<ReminderList> defaultListForNewReminders() override;
    ReminderSaveResult saveReminder(const Reminder& reminder) override;

    const QString& filePath() const { return m_filePath; }

    // The to-dos of a reminders file: empty when there is no file, nothing when it cannot be
    // read or is not a calendar.
    static std::optional<QList<icalendar::Todo>> readTodos(const QString& filePath);

    // Called on the main thread after each successful save into a file, with its path, for as
    // long as the owner lives.
    using ChangeObserver = std::function<void(const QString& filePath)>;
    static void addChangeObserver(QObject* owner, ChangeObserver observer);

private:
    QString m_filePath;
};
