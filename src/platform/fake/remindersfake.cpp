#include "platform/fake/remindersfake.h"

#include "platform/dispatch.h"

void RemindersFake::requestAccessToReminders(AccessCompletion completion)
{
    {
        QMutexLocker lock(&m_mutex);
        ++m_accessRequests;
    }
    const bool granted = accessGranted;
    const QString error = accessError;
    dispatch::globalAsync([completion = std::move(completion), granted, error] { completion(granted, error); });
}

std::optional<ReminderList> RemindersFake::defaultListForNewReminders()
{
    return defaultList;
}

ReminderSaveResult RemindersFake::saveReminder(const Reminder& reminder)
{
    if (!saveError.isEmpty())
        return {false, saveError};
    if (!defaultList || reminder.listIdentifier != defaultList->identifier)
        return {false, QStringLiteral("the reminder is in no list of this store")};
    QMutexLocker lock(&m_mutex);
    m_saved.append(reminder);
    return {true, QString()};
}

QList<Reminder> RemindersFake::saved() const
{
    QMutexLocker lock(&m_mutex);
    return m_saved;
}

int RemindersFake::accessRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_accessRequests;
}
