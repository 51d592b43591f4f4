#include "platform/linux/remindersicalendarformat.h"

#include <QTimeZone>

#include <gtest/gtest.h>

TEST(ICalendarFormat, EscapesAndUnescapesText)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("a\\b"), QStringLiteral("a\\\\b")},
        {QStringLiteral("a;b,c"), QStringLiteral("a\\;b\\,c")},
        {QStringLiteral("a\r\nb\nc\rd"), QStringLiteral("a\\nb\\nc\\nd")},
        {QStringLiteral("\\n"), QStringLiteral("\\\\n")},
        {QStringLiteral("中文"), QStringLiteral("中文")},
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(icalendar::escapeText(text), escaped);
        QString back = text;
        back.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        EXPECT_EQ(icalendar::unescapeText(escaped), back);
    }
}

TEST(ICalendarFormat, FoldsAt75OctetsAndUnfoldsBack)
{
    for (int length : {74, 75, 76, 149, 150, 151, 400}) {
        for (const QString& unit : {QStringLiteral("a"), QStringLiteral("é"), QStringLiteral("中"), QStringLiteral("😀")}) {
            QString value;
            while (value.toUtf8().size() < length)
                value += unit;
            const QByteArray folded = icalendar::contentLine(QStringLiteral("SUMMARY"), value);
            for (const QByteArray& line : folded.split('\n'))
                EXPECT_LE(line.size(), 76);  // 75 octets and the CR
            const auto lines = icalendar::parseLines(folded);
            ASSERT_EQ(lines.size(), 1);
            EXPECT_EQ(lines.first().value, value);
        }
    }
}

TEST(ICalendarFormat, ReadsParametersWithQuotedColons)
{
    const auto lines = icalendar::parseLines("ATTENDEE;CN=\"Doe: J\";ROLE=CHAIR:mailto:j@example.com\r\n");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first().name, QStringLiteral("ATTENDEE"));
    EXPECT_EQ(lines.first().params.value(QStringLiteral("CN")), QStringLiteral("Doe: J"));
    EXPECT_EQ(lines.first().params.value(QStringLiteral("ROLE")), QStringLiteral("CHAIR"));
    EXPECT_EQ(lines.first().value, QStringLiteral("mailto:j@example.com"));
}

TEST(ICalendarFormat, ParsesTodosAndRejectsBrokenCalendars)
{
    const QByteArray good = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:1\r\nSUMMARY:a\\, b\r\nSTATUS:COMPLETED\r\n"
                            "BEGIN:VALARM\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
                            "BEGIN:VALARM\r\nTRIGGER;VALUE=DATE-TIME:20240301T090000Z\r\nEND:VALARM\r\n"
                            "END:VTODO\r\nEND:VCALENDAR\r\n";
    const auto todos = icalendar::parseTodos(good);
    ASSERT_TRUE(todos);
    ASSERT_EQ(todos->size(), 1);
    EXPECT_EQ(todos->first().summary, QStringLiteral("a, b"));
    EXPECT_TRUE(todos->first().completed);
    ASSERT_EQ(todos->first().alarms.size(), 1);  // the relative trigger is not read
    EXPECT_EQ(todos->first().alarms.first(), QDateTime(QDate(2024, 3, 1), QTime(9, 0), QTimeZone::utc()));

    for (const QByteArray& bad : {QByteArray(), QByteArray("BEGIN:VTODO\r\nEND:VTODO\r\n"),
                                  QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nEND:VCALENDAR\r\n"),
                                  QByteArray("BEGIN:VCALENDAR\r\nEND:VTODO\r\n")})
        EXPECT_FALSE(icalendar::parseTodos(bad)) << bad.toStdString();
}
