#include "platform/linux/remindersalarmwatcher.h"
#include "platform/linux/remindersicalendar.h"
#include "platform/fake/usernotificationsfake.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

QString reminderPath()
{
    return testenv::home() + QStringLiteral("/Library/Nuvarel/reminders.ics");
}

Reminder reminderAt(const QString& title, const QDateTime& at)
{
    Reminder r;
    r.listIdentifier = RemindersICalendar::kDefaultListIdentifier;
    r.title = title;
    r.dueDate = at;
    r.alarms = {at};
    return r;
}

class AlarmWatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(testenv::home() + QStringLiteral("/Library/Nuvarel"));
        UserNotifications::setCurrent(notifications);
    }
    void TearDown() override { UserNotifications::setCurrent(nullptr); }

    QStringList shownTexts() const
    {
        QStringList out;
        for (const UserNotification& n : notifications->delivered())
            out << n.informativeText;
        return out;
    }

    std::shared_ptr<UserNotificationsFake> notifications = std::make_shared<UserNotificationsFake>();
    RemindersICalendar store{reminderPath()};
    const QDateTime t0 = QDateTime(QDate(2024, 5, 10), QTime(10, 0), QTimeZone::utc());
    QDateTime now = t0;
};

}  // namespace

TEST_F(AlarmWatcher, ShowsEachAlarmOnceWhenItsTimeComesAndNeverPastOnes)
{
    ASSERT_TRUE(store.saveReminder(reminderAt(QStringLiteral("before start"), t0.addSecs(-300))).saved);
    ASSERT_TRUE(store.saveReminder(reminderAt(QStringLiteral("in ten minutes"), t0.addSecs(600))).saved);
    ASSERT_TRUE(store.saveReminder(reminderAt(QStringLiteral("in two hours"), t0.addSecs(7200))).saved);

    RemindersAlarmWatcher watcher(reminderPath(), [this] { return now; });
    watcher.start();
    EXPECT_EQ(notifications->count(), 0);
    EXPECT_EQ(watcher.nextAlarm(), t0.addSecs(600));
    // Never one long wait: the clock is looked at again within the minute.
    EXPECT_EQ(watcher.waitInterval(), RemindersAlarmWatcher::kMaxWaitMs);

    now = t0.addSecs(599);
    watcher.checkAlarms();
    EXPECT_EQ(notifications->count(), 0);
    EXPECT_EQ(watcher.waitInterval(), 1000);

    now = t0.addSecs(600);
    watcher.checkAlarms();
    watcher.checkAlarms();
    EXPECT_EQ(shownTexts(), QStringList(QStringLiteral("in ten minutes")));
    EXPECT_EQ(notifications->delivered().first().title, QStringLiteral("提醒"));

    // After a suspend the alarm that passed meanwhile still shows, once.
    now = t0.addSecs(9000);
    watcher.checkAlarms();
    EXPECT_EQ(shownTexts(), QStringList({QStringLiteral("in ten minutes"), QStringLiteral("in two hours")}));
    EXPECT_FALSE(watcher.nextAlarm());
    EXPECT_EQ(watcher.waitInterval(), -1);

    // A clock set back does not show them again.
    now = t0;
    watcher.checkAlarms();
    now = t0.addSecs(9000);
    watcher.checkAlarms();
    EXPECT_EQ(notifications->count(), 2);
}

TEST_F(AlarmWatcher, PicksUpRemindersSavedWhileItRuns)
{
    RemindersAlarmWatcher watcher(reminderPath(), [this] { return now; });
    watcher.start();
    EXPECT_FALSE(watcher.nextAlarm());

    Reminder r = reminderAt(QStringLiteral("with a link"), t0.addSecs(120));
    r.url = QUrl(QStringLiteral("https://example.com/x"));
    ASSERT_TRUE(store.saveReminder(r).saved);
    ASSERT_TRUE(testenv::waitUntil([&] { return watcher.nextAlarm().has_value(); }));
    EXPECT_EQ(*watcher.nextAlarm(), t0.addSecs(120));

    now = t0.addSecs(120);
    watcher.checkAlarms();
    EXPECT_EQ(shownTexts(), QStringList(QStringLiteral("with a link\nhttps://example.com/x")));
}

TEST_F(AlarmWatcher, TimerFiresTheAlarmOnTheRealClock)
{
    RemindersAlarmWatcher watcher(reminderPath());
    watcher.start();
    // Alarm times have whole seconds: this one lies one to two seconds ahead.
    QDateTime at = QDateTime::currentDateTimeUtc().addSecs(2);
    at.setTime(QTime(at.time().hour(), at.time().minute(), at.time().second()));
    ASSERT_TRUE(store.saveReminder(reminderAt(QStringLiteral("soon"), at)).saved);
    ASSERT_TRUE(testenv::waitUntil([&] { return notifications->count() == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(shownTexts(), QStringList(QStringLiteral("soon")));
}

TEST_F(AlarmWatcher, UnreadableFileKeepsWhatWasRead)
{
    ASSERT_TRUE(store.saveReminder(reminderAt(QStringLiteral("kept"), t0.addSecs(60))).saved);
    RemindersAlarmWatcher watcher(reminderPath(), [this] { return now; });
    watcher.start();
    {
        QFile f(reminderPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("garbage");
    }
    watcher.reload();
    EXPECT_EQ(watcher.nextAlarm(), t0.addSecs(60));
}
