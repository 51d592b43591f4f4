#include "platform/linux/remindersalarmwatcher.h"

#include "platform/linux/remindersicalendar.h"
#include "platform/usernotifications.h"

#include <QDir>

#include <spdlog/spdlog.h>

#include <algorithm>

RemindersAlarmWatcher::RemindersAlarmWatcher(const QString& filePath, Clock clock, QObject* parent)
    : QObject(parent)
    , m_filePath(QDir::cleanPath(filePath))
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RemindersAlarmWatcher::checkAlarms);
    RemindersICalendar::addChangeObserver(this, [this](const QString& path) {
        if (m_started && QDir::cleanPath(path) == m_filePath)
            reload();
    });
}

void RemindersAlarmWatcher::start()
{
    m_started = true;
    m_startedAt = m_clock();
    reload();
}

void RemindersAlarmWatcher::reload()
{
    const auto todos = RemindersICalendar::readTodos(m_filePath);
    if (!todos) {
        // Keep waiting for what was read before.
        spdlog::warn("reminders file {} could not be read", m_filePath.toStdString());
        schedule();
        return;
    }
    m_alarms.clear();
    for (const icalendar::Todo& todo : *todos) {
        if (todo.completed)
            continue;
        for (const QDateTime& at : todo.alarms)
            m_alarms.append({todo.uid + QLatin1Char('|') + at.toUTC().toString(Qt::ISODate), todo.summary, todo.url, at});
    }
    checkAlarms();
}

bool RemindersAlarmWatcher::isPending(const Alarm& alarm) const
{
    return alarm.at > m_startedAt && !m_shown.contains(alarm.key);
}

void RemindersAlarmWatcher::checkAlarms()
{
    if (!m_started)
        return;
    const QDateTime now = m_clock();
    for (const Alarm& alarm : std::as_const(m_alarms)) {
        if (!isPending(alarm) || alarm.at > now)
            continue;
        m_shown.insert(alarm.key);
        UserNotification n;
        n.title = QStringLiteral("提醒");
        n.informativeText = alarm.title;
        if (alarm.url.isValid() && !alarm.url.isEmpty())
            n.informativeText += QLatin1Char('\n') + alarm.url.toString();
        UserNotifications::current().deliverNotification(n);
    }
    schedule();
}

std::optional<QDateTime> RemindersAlarmWatcher::nextAlarm() const
{
    std::optional<QDateTime> next;
    for (const Alarm& alarm : m_alarms)
        if (isPending(alarm) && (!next || alarm.at < *next))
            next = alarm.at;
    return next;
}

void RemindersAlarmWatcher::schedule()
{
    const auto next = nextAlarm();
    if (!next) {
        m_timer.stop();
        return;
    }
    const qint64 wait = std::clamp<qint64>(m_clock().msecsTo(*next), 0, kMaxWaitMs);
    m_timer.start(static_cast<int>(wait));
}

int RemindersAlarmWatcher::waitInterval() const
{
    return m_timer.isActive() ? m_timer.interval() : -1;
}
