#pragma once

#include "platform/reminders.h"

#include <QMutex>

// A reminders store in memory. The test sets how access, the default list and saving turn
// out (before the store is used); saved reminders are kept in order. Access completes on the
// global queue, as a real store's may.
class RemindersFake : public Reminders {
public:
    bool accessGranted = true;
    QString accessError;
    std::optional<ReminderList> defaultList = ReminderList{QStringLiteral("fake-list"), QStringLiteral("提醒事项")};
    // When set, every save fails with this error.
    QString saveError;

    void requestAccessToReminders(AccessCompletion completion) override;
    std::optional<ReminderList> defaultListForNewReminders() override;
    ReminderSaveResult saveReminder(const Reminder& reminder) override;

    QList<Reminder> saved() const;
    int accessRequests() const;

private:
    mutable QMutex m_mutex;
    QList<Reminder> m_saved;
    int m_accessRequests = 0;
};
