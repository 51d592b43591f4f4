#pragma once

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

// While the app runs, shows a desktop notification (through UserNotifications::current())
// when the alarm of a reminder in the reminders file comes. Alarms that came before start()
// are past and not shown; each alarm is shown once. It waits on one timer for the next alarm,
// looking at the clock again at least every kMaxWaitMs so that a suspend or a changed clock
// delays an alarm by no more than that. Saves through RemindersICalendar into the same file
// are picked up at once. Main thread only.
class RemindersAlarmWatcher : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    static constexpr int kMaxWaitMs = 60 * 1000;

    // Without a clock, the system's.
    explicit RemindersAlarmWatcher(const QString& filePath, Clock clock = {}, QObject* parent = nullptr);

    void start();
    // Reads the file again (done by itself after each save into it).
    void reload();
    // Shows what has come by now, then waits for the next alarm.
    void checkAlarms();

    // The next alarm to be shown, if any.
    std::optional<QDateTime> nextAlarm() const;
    // How long the timer was last set to wait; -1 when it does not run.
    int waitInterval() const;

private:
    struct Alarm {
        QString key;
        QString title;
        QUrl url;
        QDateTime at;
    };
    bool isPending(const Alarm& alarm) const;
    void schedule();

    QString m_filePath;
    Clock m_clock;
    bool m_started = false;
    QDateTime m_startedAt;
    QList<Alarm> m_alarms;
    QSet<QString> m_shown;
    QTimer m_timer;
};
