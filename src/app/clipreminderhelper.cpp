#include "app/clipreminderhelper.h"

#include "platform/reminders.h"
#include "platform/usernotifications.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"

#include <QMutex>
#include <QUrl>

#include <spdlog/spdlog.h>

namespace {

QMutex g_clockMutex;
ClipReminderHelper::Clock g_clock;

// A text typed as a link at capture ("text_url_http").
bool isUrlType(const QString& type)
{
    const ClipType parsed = ClipType::parse(type);
    return parsed.kind() == ClipType::Kind::Text && parsed.extension().startsWith(ClipKind::UrlExtensionPrefix);
}

}  // namespace

void ClipReminderHelper::setClock(Clock clock)
{
    QMutexLocker lock(&g_clockMutex);
    g_clock = std::move(clock);
}

QDateTime ClipReminderHelper::now()
{
    Clock clock;
    {
        QMutexLocker lock(&g_clockMutex);
        clock = g_clock;
    }
    return clock ? clock() : QDateTime::currentDateTime();
}

QList<int> ClipReminderHelper::avalilabeTypes()
{
    const int hour = now().time().hour();
    QList<int> types{0};
    if (hour <= 11)
        types << 1;
    if (hour <= 17)
        types << 2;
    types << 3;
    return types;
}

QString ClipReminderHelper::stringFromType(int type)
{
    switch (type) {
    case 0: return QStringLiteral("稍后提醒 ⏰");
    case 1: return QStringLiteral("中午提醒 ⏰");
    case 2: return QStringLiteral("晚上提醒 ⏰");
    case 3: return QStringLiteral("明天提醒 ⏰");
    default: return QString();
    }
}

QDateTime ClipReminderHelper::dateFromType(int type)
{
    const QDateTime current = now();
    const QDate today = current.date();
    // Whole minutes, so the seconds of "now" never reach the alarm.
    const QDateTime minute(today, QTime(current.time().hour(), current.time().minute()));
    switch (type) {
    // Overflowing minutes carry into the next hour and day (23:50 gives 00:25 tomorrow).
    case 0: return minute.addSecs(35 * 60);
    case 1: return QDateTime(today, QTime(12, 0));
    case 2: return QDateTime(today, QTime(20, 0));
    case 3: return QDateTime(today.addDays(1), QTime(9, 0));
    default: return current;
    }
}

void ClipReminderHelper::addReminderItem(const HistoryModelPtr& clip, int fireType)
{
    if (!clip)
        return;
    // The completion runs on another thread; it gets values, not the record the menu keeps.
    const QString fileHash = clip->file_hash().value_or(QString());
    const QString type = clip->type().value_or(QString());
    std::shared_ptr<Reminders> store = Reminders::create();
    store->requestAccessToReminders([store, fileHash, type, fireType](bool granted, const QString& error) {
        const QString text = ClipFileManager::sharedInstance().getStringWithMd5(fileHash).value_or(QString());
        bool saved = false;
        if (!granted) {
            spdlog::warn("no access to reminders: {}", error.toStdString());
        } else if (const auto list = store->defaultListForNewReminders()) {
            Reminder reminder;
            reminder.listIdentifier = list->identifier;
            reminder.title = text;
            if (isUrlType(type)) {
                const QUrl url(text, QUrl::StrictMode);
                if (url.isValid() && !url.isRelative())
                    reminder.url = url;
            }
            reminder.alarms << dateFromType(fireType);
            const ReminderSaveResult result = store->saveReminder(reminder);
            saved = result.saved;
            if (!saved)
                spdlog::warn("reminder not saved: {}", result.error.toStdString());
        } else {
            spdlog::warn("no default list for reminders");
        }
        UserNotification notification;
        notification.title = saved ? QStringLiteral("已成功添加提醒") : QStringLiteral("添加提醒 失败!");
        notification.informativeText = text;
        UserNotifications::current().deliverNotification(notification);
    });
}
