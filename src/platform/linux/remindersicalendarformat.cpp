#include "platform/linux/remindersicalendarformat.h"

#include <QStringList>
#include <QTimeZone>

namespace icalendar {

QString escapeText(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case ';': out += QStringLiteral("\\;"); break;
        case ',': out += QStringLiteral("\\,"); break;
        case '\r':
            // CRLF is one line break.
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QStringLiteral("\\n");
            break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += c; break;
        default:
            // CONTROL characters are not allowed in a TEXT value.
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                break;
            out += c;
        }
    }
    return out;
}

QString unescapeText(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('n') || next == QLatin1Char('N'))
            out += QLatin1Char('\n');
        else
            out += next;  // "\\", "\;", "\,"
    }
    return out;
}

QByteArray foldLine(const QByteArray& line)
{
    QByteArray out;
    out.reserve(line.size() + line.size() / 70 * 3 + 2);
    qsizetype pos = 0;
    qsizetype limit = 75;  // the first physical line; later ones start with a space
    while (line.size() - pos > limit) {
        qsizetype cut = pos + limit;
        // Never between the bytes of one UTF-8 sequence.
        while (cut > pos && (static_cast<unsigned char>(line.at(cut)) & 0xC0) == 0x80)
            --cut;
        if (cut == pos)  // not UTF-8 at all: cut where the limit falls
            cut = pos + limit;
        out += line.mid(pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        limit = 74;
    }
    out += line.mid(pos);
    out += "\r\n";
    return out;
}

QByteArray contentLine(const QString& nameAndParams, const QString& value)
{
    return foldLine((nameAndParams + QLatin1Char(':') + value).toUtf8());
}

QString formatUtc(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

QDateTime parseDateTime(const QString& value)
{
    QString v = value.trimmed();
    const bool utc = v.endsWith(QLatin1Char('Z'));
    if (utc)
        v.chop(1);
    QDateTime t = QDateTime::fromString(v, QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (!t.isValid())
        return {};
    if (utc)
        t.setTimeZone(QTimeZone::utc());
    return t;
}

QList<ContentLine> parseLines(const QByteArray& data)
{
    // Unfold on bytes: a writer may have cut a UTF-8 sequence, the bytes join again first.
    QByteArray unfolded;
    unfolded.reserve(data.size());
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (c == '\r' && i + 1 < data.size() && data.at(i + 1) == '\n') {
            if (i + 2 < data.size() && (data.at(i + 2) == ' ' || data.at(i + 2) == '\t')) {
                i += 2;
                continue;
            }
            unfolded += '\n';
            ++i;
            continue;
        }
        if (c == '\n' && i + 1 < data.size() && (data.at(i + 1) == ' ' || data.at(i + 1) == '\t')) {
            ++i;
            continue;
        }
        unfolded += c;
    }

    QList<ContentLine> lines;
    for (const QByteArray& raw : unfolded.split('\n')) {
        const QString text = QString::fromUtf8(raw);
        if (text.isEmpty())
            continue;
        ContentLine line;
        qsizetype i = 0;
        while (i < text.size() && text.at(i) != QLatin1Char(';') && text.at(i) != QLatin1Char(':'))
            ++i;
        if (i == text.size() || i == 0)
            continue;
        line.name = text.left(i).toUpper();
        // Parameters; a quoted value may hold ':' ';' ','.
        while (i < text.size() && text.at(i) == QLatin1Char(';')) {
            ++i;
            const qsizetype nameStart = i;
            while (i < text.size() && text.at(i) != QLatin1Char('=') && text.at(i) != QLatin1Char(':')
                   && text.at(i) != QLatin1Char(';'))
                ++i;
            const QString paramName = text.mid(nameStart, i - nameStart).toUpper();
            QString paramValue;
            if (i < text.size() && text.at(i) == QLatin1Char('=')) {
                ++i;
                bool quoted = false;
                while (i < text.size()) {
                    const QChar c = text.at(i);
                    if (c == QLatin1Char('"'))
                        quoted = !quoted;
                    else if (!quoted && (c == QLatin1Char(';') || c == QLatin1Char(':')))
                        break;
                    else
                        paramValue += c;
                    ++i;
                }
            }
            line.params.insert(paramName, paramValue);
        }
        if (i >= text.size() || text.at(i) != QLatin1Char(':'))
            continue;
        line.value = text.mid(i + 1);
        lines.append(line);
    }
    return lines;
}

std::optional<QList<Todo>> parseTodos(const QByteArray& data)
{
    const QList<ContentLine> lines = parseLines(data);
    if (lines.isEmpty() || lines.first().name != QLatin1String("BEGIN")
        || lines.first().value.compare(QLatin1String("VCALENDAR"), Qt::CaseInsensitive) != 0)
        return std::nullopt;

    QList<Todo> todos;
    QStringList stack;
    Todo todo;
    bool calendarClosed = false;
    for (const ContentLine& line : lines) {
        if (calendarClosed)
            break;  // what follows the calendar is not ours to read
        if (line.name == QLatin1String("BEGIN")) {
            stack.append(line.value.toUpper());
            if (stack.last() == QLatin1String("VTODO"))
                todo = Todo();
            continue;
        }
        if (line.name == QLatin1String("END")) {
            if (stack.isEmpty() || stack.last() != line.value.toUpper())
                return std::nullopt;
            if (stack.last() == QLatin1String("VTODO"))
                todos.append(todo);
            stack.removeLast();
            calendarClosed = stack.isEmpty();
            continue;
        }
        if (stack.isEmpty())
            return std::nullopt;
        const QString& where = stack.last();
        if (where == QLatin1String("VTODO") && stack.size() == 2) {
            if (line.name == QLatin1String("UID"))
                todo.uid = line.value;
            else if (line.name == QLatin1String("SUMMARY"))
                todo.summary = unescapeText(line.value);
            else if (line.name == QLatin1String("URL"))
                todo.url = QUrl(line.value, QUrl::StrictMode);
            else if (line.name == QLatin1String("DUE"))
                todo.due = parseDateTime(line.value);
            else if (line.name == QLatin1String("STATUS"))
                todo.completed = line.value.compare(QLatin1String("COMPLETED"), Qt::CaseInsensitive) == 0;
        } else if (where == QLatin1String("VALARM") && stack.size() == 3 && stack.at(1) == QLatin1String("VTODO")) {
            if (line.name == QLatin1String("TRIGGER")
                && line.params.value(QStringLiteral("VALUE")).compare(QLatin1String("DATE-TIME"), Qt::CaseInsensitive) == 0) {
                const QDateTime at = parseDateTime(line.value);
                if (at.isValid())
                    todo.alarms.append(at);
            }
        }
    }
    if (!calendarClosed)
        return std::nullopt;
    return todos;
}

}  // namespace icalendar
