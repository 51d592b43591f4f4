#pragma once

#include "store/historymodel.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

// Reminders made from a text clip, due shortly, at noon, in the evening or tomorrow
// morning. Class operations only.
//
// Fire types: 0 "稍后提醒 ⏰" (now + 35 minutes, seconds dropped), 1 "中午提醒 ⏰" (today
// 12:00), 2 "晚上提醒 ⏰" (today 20:00), 3 "明天提醒 ⏰" (tomorrow 09:00); any other type
// has the title "" and is due now. Times are local.
class ClipReminderHelper {
public:
    ClipReminderHelper() = delete;

    using Clock = std::function<QDateTime()>;
    // The clock every "now" below is read from; an empty one restores the system's.
    static void setClock(Clock clock);
    static QDateTime now();

    // The fire types that still make sense at the current hour, ascending: 0, then 1 up to
    // 11 o'clock, 2 up to 17 o'clock, then 3.
    static QList<int> avalilabeTypes();
    static QString stringFromType(int type);
    static QDateTime dateFromType(int type);

    // Creates the reminder, titled with the clip's body text, with one alarm at the type's
    // date (computed when the store has answered), in a new store's default list; a
    // text_url clip whose body is a URL also carries that URL. Tells the user by a desktop
    // notification whether it was saved. Returns at once; the work runs on a thread of the
    // store's choosing.
    static void addReminderItem(const HistoryModelPtr& clip, int fireType);
};
