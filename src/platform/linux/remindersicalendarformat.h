#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

#include <optional>

// The little of iCalendar (RFC 5545) the reminders file needs: writing content lines with
// escaped text and folded at 75 octets, and reading back the to-dos with their alarms.
namespace icalendar {

// TEXT value escaping: backslash, semicolon, comma and line breaks become escape sequences;
// other control characters are dropped. The result holds no line break, so it cannot end
// its property and start another.
QString escapeText(const QString& text);
QString unescapeText(const QString& value);

// One content line "NAME[;PARAM=...]:VALUE" in UTF-8, folded so that no physical line is
// longer than 75 octets (a UTF-8 sequence is never cut), each physical line ending in CRLF.
// The value is put in as given: escape TEXT values first.
QByteArray contentLine(const QString& nameAndParams, const QString& value);
QByteArray foldLine(const QByteArray& line);

// "yyyyMMddTHHmmssZ" in UTC.
QString formatUtc(const QDateTime& time);
// A DATE-TIME value: UTC with "Z", else local time.
QDateTime parseDateTime(const QString& value);

// One unfolded content line.
struct ContentLine {
    QString name;  // upper case
    QMap<QString, QString> params;  // names upper case, quotes removed
    QString value;  // raw, still escaped
};

// Unfolds the file's lines (CRLF or LF endings) and splits each into name, parameters and
// value; lines that are not content lines are left out.
QList<ContentLine> parseLines(const QByteArray& data);

struct Todo {
    QString uid;
    QString summary;
    QUrl url;
    QDateTime due;
    bool completed = false;
    // Absolute alarm times (TRIGGER;VALUE=DATE-TIME); relative triggers are not read.
    QList<QDateTime> alarms;
};

// The to-dos of a calendar, or nothing when the data is not one well-formed VCALENDAR
// (BEGIN and END lines unbalanced or missing).
std::optional<QList<Todo>> parseTodos(const QByteArray& data);

}  // namespace icalendar
