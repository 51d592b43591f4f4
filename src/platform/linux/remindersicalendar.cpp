#include "platform/linux/remindersicalendar.h"

#include "platform/dispatch.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSaveFile>
#include <QUuid>

#include <vector>

namespace {

// Every store of the process writes under this lock: two reminders added at once must both
// end up in the file.
QMutex g_fileMutex;

QMutex g_observerMutex;
struct Observer {
    QPointer<QObject> owner;
    RemindersICalendar::ChangeObserver fn;
};
std::vector<Observer> g_observers;

// Observers are checked and called on the main thread, where their owners live.
void notifyChanged(const QString& path)
{
    dispatch::mainAsync([path] {
        std::vector<Observer> targets;
        {
            QMutexLocker lock(&g_observerMutex);
            std::erase_if(g_observers, [](const Observer& o) { return o.owner.isNull(); });
            targets = g_observers;
        }
        for (const Observer& o : targets)
            if (!o.owner.isNull())
                o.fn(path);
    });
}

QByteArray calendarHead()
{
    QByteArray out;
    out += icalendar::contentLine(QStringLiteral("BEGIN"), QStringLiteral("VCALENDAR"));
    out += icalendar::contentLine(QStringLiteral("VERSION"), QStringLiteral("2.0"));
    out += icalendar::contentLine(QStringLiteral("PRODID"), QStringLiteral("-//Nuvarel//Reminders//ZH-CN"));
    out += icalendar::contentLine(QStringLiteral("X-WR-CALNAME"),
                                  icalendar::escapeText(RemindersICalendar::kDefaultListTitle));
    return out;
}

// Offset of the line "END:VCALENDAR" that closes the file's calendar, or -1.
qsizetype calendarEnd(const QByteArray& data)
{
    const QByteArray upper = data.toUpper();
    qsizetype at = upper.lastIndexOf("END:VCALENDAR");
    while (at > 0 && upper.at(at - 1) != '\n')
        at = upper.lastIndexOf("END:VCALENDAR", at - 1);
    return at;
}

QByteArray todoText(const Reminder& reminder, const QString& uid, const QDateTime& stamp)
{
    using icalendar::contentLine;
    using icalendar::escapeText;
    const QString summary = escapeText(reminder.title);
    QByteArray out;
    out += contentLine(QStringLiteral("BEGIN"), QStringLiteral("VTODO"));
    out += contentLine(QStringLiteral("UID"), uid);
    out += contentLine(QStringLiteral("DTSTAMP"), icalendar::formatUtc(stamp));
    out += contentLine(QStringLiteral("CREATED"), icalendar::formatUtc(stamp));
    out += contentLine(QStringLiteral("SUMMARY"), summary);
    if (reminder.url.isValid() && !reminder.url.isEmpty()) {
        // Fully encoded, a URI holds no line break or control character.
        out += contentLine(QStringLiteral("URL"), QString::fromLatin1(reminder.url.toEncoded(QUrl::FullyEncoded)));
    }
    if (reminder.dueDate.isValid())
        out += contentLine(QStringLiteral("DUE"), icalendar::formatUtc(reminder.dueDate));
    out += contentLine(QStringLiteral("STATUS"), QStringLiteral("NEEDS-ACTION"));
    for (const QDateTime& alarm : reminder.alarms) {
        out += contentLine(QStringLiteral("BEGIN"), QStringLiteral("VALARM"));
        out += contentLine(QStringLiteral("ACTION"), QStringLiteral("DISPLAY"));
        out += contentLine(QStringLiteral("DESCRIPTION"), summary);
        // An absolute trigger is a UTC DATE-TIME.
        out += contentLine(QStringLiteral("TRIGGER;VALUE=DATE-TIME"), icalendar::formatUtc(alarm));
        out += contentLine(QStringLiteral("END"), QStringLiteral("VALARM"));
    }
    out += contentLine(QStringLiteral("END"), QStringLiteral("VTODO"));
    return out;
}

}  // namespace

RemindersICalendar::RemindersICalendar(const QString& filePath)
    : m_filePath(filePath)
{
}

void RemindersICalendar::requestAccessToReminders(AccessCompletion completion)
{
    dispatch::globalAsync([completion = std::move(completion)] { completion(true, QString()); });
}

std::optional<ReminderList> RemindersICalendar::defaultListForNewReminders()
{
    if (m_filePath.isEmpty())
        return std::nullopt;
    return ReminderList{kDefaultListIdentifier, kDefaultListTitle};
}

ReminderSaveResult RemindersICalendar::saveReminder(const Reminder& reminder)
{
    if (m_filePath.isEmpty())
        return {false, QStringLiteral("no reminders list")};
    if (reminder.listIdentifier != kDefaultListIdentifier)
        return {false, QStringLiteral("the reminder is in no list of this store")};
    for (const QDateTime& alarm : reminder.alarms)
        if (!alarm.isValid())
            return {false, QStringLiteral("an alarm has no valid time")};

    QMutexLocker lock(&g_fileMutex);
    QByteArray data;
    const bool existed = QFileInfo::exists(m_filePath);
    if (existed) {
        QFile file(m_filePath);
        if (!file.open(QIODevice::ReadOnly))
            return {false, QStringLiteral("cannot read %1: %2").arg(m_filePath, file.errorString())};
        data = file.readAll();
    }

    const QByteArray todo =
        todoText(reminder, QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral("@nuvarel"),
                 QDateTime::currentDateTimeUtc());
    QByteArray written;
    if (data.trimmed().isEmpty()) {
        written = calendarHead() + todo + icalendar::contentLine(QStringLiteral("END"), QStringLiteral("VCALENDAR"));
    } else {
        const qsizetype end = calendarEnd(data);
        if (!icalendar::parseTodos(data) || end < 0)
            return {false, QStringLiteral("%1 is not an iCalendar file; left as it is").arg(m_filePath)};
        written = data.left(end) + todo + data.mid(end);
    }

    QSaveFile file(m_filePath);
    bool ok = file.open(QIODevice::WriteOnly);
    // The clip's text is in it: keep a new file to the user (an existing one keeps its mode).
    if (ok && !existed)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ok = ok && file.write(written) == written.size() && file.commit();
    if (!ok)
        return {false, QStringLiteral("cannot write %1: %2").arg(m_filePath, file.errorString())};
    lock.unlock();

    notifyChanged(m_filePath);
    return {true, QString()};
}

std::optional<QList<icalendar::Todo>> RemindersICalendar::readTodos(const QString& filePath)
{
    if (filePath.isEmpty() || !QFileInfo::exists(filePath))
        return QList<icalendar::Todo>();
    QMutexLocker lock(&g_fileMutex);
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    if (data.trimmed().isEmpty())
        return QList<icalendar::Todo>();
    return icalendar::parseTodos(data);
}

void RemindersICalendar::addChangeObserver(QObject* owner, ChangeObserver observer)
{
    QMutexLocker lock(&g_observerMutex);
    g_observers.push_back({QPointer<QObject>(owner), std::move(observer)});
}
