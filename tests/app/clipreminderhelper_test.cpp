#include "app/clipreminderhelper.h"
#include "platform/fake/remindersfake.h"
#include "platform/linux/remindersicalendar.h"
#include "platform/fake/usernotificationsfake.h"
#include "store/clipfilemanager.h"
#include "store/digest.h"
#include "support/testenv.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// A text clip whose body is on disk.
HistoryModelPtr textClip(const QString& text, const QString& type)
{
    auto clip = std::make_shared<HistoryModel>();
    const QString hash = md5HexOfString(text);
    ClipFileManager::sharedInstance().saveString(text, hash);
    clip->setFile_hash(hash);
    clip->setContent(text);
    clip->setType(type);
    return clip;
}

class ReminderHelper : public ::testing::Test {
protected:
    void SetUp() override
    {
        notifications = std::make_shared<UserNotificationsFake>();
        UserNotifications::setCurrent(notifications);
        store = std::make_shared<RemindersFake>();
        Reminders::setFactory([this] { return store; });
    }
    void TearDown() override
    {
        ClipReminderHelper::setClock(nullptr);
        Reminders::setFactory(nullptr);
        UserNotifications::setCurrent(nullptr);
    }
    void setNow(const QDateTime& now)
    {
        ClipReminderHelper::setClock([now] { return now; });
    }
    UserNotification waitForNotification()
    {
        EXPECT_TRUE(testenv::waitUntil([&] { return notifications->count() == 1; }));
        return notifications->count() ? notifications->delivered().front() : UserNotification{};
    }

    std::shared_ptr<UserNotificationsFake> notifications;
    std::shared_ptr<RemindersFake> store;
};

}  // namespace

TEST_F(ReminderHelper, TypesOfferedByTheHour)
{
    const struct {
        int hour, minute;
        QList<int> types;
    } cases[] = {
        {0, 0, {0, 1, 2, 3}},  {9, 30, {0, 1, 2, 3}}, {11, 59, {0, 1, 2, 3}}, {12, 0, {0, 2, 3}},
        {17, 59, {0, 2, 3}},   {18, 0, {0, 3}},       {23, 59, {0, 3}},
    };
    for (const auto& c : cases) {
        setNow(at(2024, 5, 6, c.hour, c.minute));
        EXPECT_EQ(ClipReminderHelper::avalilabeTypes(), c.types) << c.hour << ":" << c.minute;
    }
}

TEST_F(ReminderHelper, TitlesAndDueDates)
{
    EXPECT_EQ(ClipReminderHelper::stringFromType(0), QStringLiteral("稍后提醒 ⏰"));
    EXPECT_EQ(ClipReminderHelper::stringFromType(1), QStringLiteral("中午提醒 ⏰"));
    EXPECT_EQ(ClipReminderHelper::stringFromType(2), QStringLiteral("晚上提醒 ⏰"));
    EXPECT_EQ(ClipReminderHelper::stringFromType(3), QStringLiteral("明天提醒 ⏰"));
    EXPECT_EQ(ClipReminderHelper::stringFromType(4), QString());
    EXPECT_EQ(ClipReminderHelper::stringFromType(-1), QString());

    const struct {
        QDateTime now;
        int type;
        QDateTime due;
    } cases[] = {
        // Seconds dropped, 35 minutes on.
        {at(2024, 5, 6, 10, 20, 45), 0, at(2024, 5, 6, 10, 55)},
        // Past midnight, into the next day, month and year.
        {at(2024, 5, 6, 23, 50, 30), 0, at(2024, 5, 7, 0, 25)},
        {at(2024, 12, 31, 23, 59, 59), 0, at(2025, 1, 1, 0, 34)},
        {at(2024, 5, 6, 10, 20, 45), 1, at(2024, 5, 6, 12, 0)},
        {at(2024, 5, 6, 10, 20, 45), 2, at(2024, 5, 6, 20, 0)},
        {at(2024, 5, 6, 10, 20, 45), 3, at(2024, 5, 7, 9, 0)},
        // The last day of a month, of February in a leap year, of a year.
        {at(2024, 1, 31, 22, 0), 3, at(2024, 2, 1, 9, 0)},
        {at(2024, 2, 28, 8, 0), 3, at(2024, 2, 29, 9, 0)},
        {at(2024, 12, 31, 8, 0), 3, at(2025, 1, 1, 9, 0)},
        // An unknown type is due now, seconds and all.
        {at(2024, 5, 6, 10, 20, 45), 9, at(2024, 5, 6, 10, 20, 45)},
    };
    for (const auto& c : cases) {
        setNow(c.now);
        EXPECT_EQ(ClipReminderHelper::dateFromType(c.type), c.due)
            << c.now.toString(Qt::ISODate).toStdString() << " type " << c.type;
    }
}

TEST_F(ReminderHelper, SavesTheBodyAsTitleWithOneAlarmAndTheUrlOfUrlClipsOnly)
{
    setNow(at(2024, 5, 6, 10, 20, 45));
    const QString url = QStringLiteral("https://example.com/a?b=c");
    const struct {
        QString text;
        QString type;
        QUrl expectedUrl;
    } cases[] = {
        {url, QStringLiteral("text_url_http+enc"), QUrl(url)},
        {url, QStringLiteral("text_txt+enc"), QUrl()},
        // Not a URL, though the kind says so.
        {QStringLiteral("http://exa mple.com"), QStringLiteral("text_url_http"), QUrl()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " " + c.type.toStdString());
        notifications->clear();
        const qsizetype before = store->saved().size();
        ClipReminderHelper::addReminderItem(textClip(c.text, c.type), 0);
        const UserNotification shown = waitForNotification();
        EXPECT_EQ(shown.title, QStringLiteral("已成功添加提醒"));
        EXPECT_EQ(shown.informativeText, c.text);
        EXPECT_TRUE(shown.playsDefaultSound);
        ASSERT_EQ(store->saved().size(), before + 1);
        const Reminder saved = store->saved().last();
        EXPECT_EQ(saved.title, c.text);
        EXPECT_EQ(saved.listIdentifier, QStringLiteral("fake-list"));
        EXPECT_EQ(saved.url, c.expectedUrl);
        EXPECT_EQ(saved.alarms, QList<QDateTime>{at(2024, 5, 6, 10, 55)});
    }
}

TEST_F(ReminderHelper, EveryFailureEndsInTheFailureNotification)
{
    const QString text = QStringLiteral("call the bank");
    const std::function<void(RemindersFake&)> setups[] = {
        [](RemindersFake& s) { s.accessGranted = false; },
        [](RemindersFake& s) { s.defaultList.reset(); },
        [](RemindersFake& s) { s.saveError = QStringLiteral("disk full"); },
    };
    for (const auto& setup : setups) {
        store = std::make_shared<RemindersFake>();
        setup(*store);
        notifications->clear();
        ClipReminderHelper::addReminderItem(textClip(text, QStringLiteral("text_txt")), 3);
        const UserNotification shown = waitForNotification();
        EXPECT_EQ(shown.title, QStringLiteral("添加提醒 失败!"));
        EXPECT_EQ(shown.informativeText, text);
        EXPECT_TRUE(store->saved().isEmpty());
    }
}

TEST_F(ReminderHelper, ClipTextCannotAddLinesToTheRemindersFile)
{
    const QString path = testenv::home() + QStringLiteral("/reminders.ics");
    Reminders::setFactory([path] { return std::make_shared<RemindersICalendar>(path); });
    setNow(at(2024, 5, 6, 10, 20, 45));
    const QString text = QStringLiteral("milk\nEND:VTODO\nBEGIN:VTODO\nSUMMARY:injected;x,y\\z\nDUE:19700101T000000Z");
    ClipReminderHelper::addReminderItem(textClip(text, QStringLiteral("text_txt")), 2);
    EXPECT_EQ(waitForNotification().title, QStringLiteral("已成功添加提醒"));

    const auto todos = RemindersICalendar::readTodos(path);
    ASSERT_TRUE(todos);
    ASSERT_EQ(todos->size(), 1);
    EXPECT_EQ(todos->front().summary, text);
    EXPECT_EQ(todos->front().alarms, QList<QDateTime>{at(2024, 5, 6, 20, 0)});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    EXPECT_EQ(raw.count("\r\nBEGIN:VTODO\r\n"), 1);
    EXPECT_FALSE(raw.contains("\r\nSUMMARY:injected"));
    EXPECT_FALSE(raw.contains("\r\nDUE:1970"));
}
