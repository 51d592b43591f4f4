#include "platform/numberreader.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

TEST(NumberReader, WholeNumberTable)
{
    struct Case {
        QVariant value;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
        {QVariant(9), 9},
        {QVariant(qint64(-8192)), -8192},
        {QVariant(true), 1},
        {QVariant(2.9), 2},
        {QVariant(-2.9), -2},
        {QVariant(1e30), std::nullopt},
        {QVariant(-1e30), std::nullopt},
        {QVariant(std::nan("")), std::nullopt},
        {QVariant(INFINITY), std::nullopt},
        {QVariant(QStringLiteral(" 42 ")), 42},
        {QVariant(QStringLiteral("1e30")), std::nullopt},
        {QVariant(QStringLiteral("0.6")), 0},
        {QVariant(QStringLiteral("abc")), std::nullopt},
        {QVariant(QString()), std::nullopt},
        {QVariant(), std::nullopt},
        {QVariant(quint64(~0ULL)), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberReader::wholeNumber(c.value), c.expected) << c.value.toString().toStdString();
}

TEST(NumberReader, RangeIsChecked)
{
    EXPECT_EQ(NumberReader::wholeNumber(QVariant(5), 0, 4), std::nullopt);
    EXPECT_EQ(NumberReader::wholeNumber(QVariant(4), 0, 4), 4);
    EXPECT_EQ(NumberReader::realNumber(QVariant(QStringLiteral("0.25")), 0, 10), 0.25);
    EXPECT_EQ(NumberReader::realNumber(QVariant(2147484.0), 0, 10), std::nullopt);
    EXPECT_EQ(NumberReader::realNumber(QVariant(std::nan("")), 0, 10), std::nullopt);
}

TEST(NumberReader, JsonStrictAndLenient)
{
    EXPECT_EQ(NumberReader::jsonInteger(QVariant(qlonglong(7))), 7);
    EXPECT_EQ(NumberReader::jsonInteger(QVariant(7.0)), std::nullopt);
    EXPECT_EQ(NumberReader::jsonInteger(QVariant(QStringLiteral("7"))), std::nullopt);
    EXPECT_EQ(NumberReader::jsonInteger(QVariant(true)), std::nullopt);
    EXPECT_EQ(NumberReader::jsonIntegerOrZero(QVariant(QStringLiteral("7"))), 7);
    EXPECT_EQ(NumberReader::jsonIntegerOrZero(QVariant(7.0)), 7);
    EXPECT_EQ(NumberReader::jsonIntegerOrZero(QVariant(1e300)), 0);
    EXPECT_EQ(NumberReader::jsonIntegerOrZero(QVariant(true)), 0);
    EXPECT_EQ(NumberReader::jsonIntegerOrZero(QVariant()), 0);
}

// Ids and times: what JSON gives (QJsonValue::toVariant) and what the stores hold. A boolean
// is never the number 1, a fraction is never its whole part, and text stands for a number
// only where the read is lenient, and then only as plain decimal digits.
TEST(NumberReader, IdOrTimeRefusesBooleansFractionsAndText)
{
    using NumberReader::Text;
    const struct {
        const char* name;
        QVariant value;
        std::optional<qint64> strict;
        std::optional<qint64> lenient;
    } cases[] = {
        {"JSON integer", QJsonValue(qint64(42)).toVariant(), 42, 42},
        {"JSON true", QJsonValue(true).toVariant(), std::nullopt, std::nullopt},
        {"JSON false", QJsonValue(false).toVariant(), std::nullopt, std::nullopt},
        {"whole double", QVariant(42.0), 42, 42},
        {"fraction", QJsonValue(42.5).toVariant(), std::nullopt, std::nullopt},
        {"infinity", QVariant(std::numeric_limits<double>::infinity()), std::nullopt, std::nullopt},
        {"2^63 as a double", QVariant(9223372036854775808.0), std::nullopt, std::nullopt},
        {"decimal text", QVariant(QStringLiteral(" 42 ")), std::nullopt, 42},
        {"negative text", QVariant(QStringLiteral("-3")), std::nullopt, -3},
        {"fraction as text", QVariant(QStringLiteral("42.5")), std::nullopt, std::nullopt},
        {"exponent as text", QVariant(QStringLiteral("4e1")), std::nullopt, std::nullopt},
        {"\"true\"", QVariant(QStringLiteral("true")), std::nullopt, std::nullopt},
        {"empty text", QVariant(QString()), std::nullopt, std::nullopt},
        {"sign alone", QVariant(QStringLiteral("-")), std::nullopt, std::nullopt},
        {"text beyond 64 bits", QVariant(QStringLiteral("9223372036854775808")), std::nullopt, std::nullopt},
        {"JSON null", QJsonValue(QJsonValue::Null).toVariant(), std::nullopt, std::nullopt},
        {"absent", QVariant(), std::nullopt, std::nullopt},
        {"an object", QJsonValue(QJsonObject{{"a", 1}}).toVariant(), std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NumberReader::idOrTime(c.value), c.strict) << c.name;
        EXPECT_EQ(NumberReader::idOrTime(c.value, std::numeric_limits<qint64>::min(),
                                         std::numeric_limits<qint64>::max(), Text::Accepted),
                  c.lenient)
            << c.name;
    }
    EXPECT_EQ(NumberReader::idOrTime(QVariant(0), 1), std::nullopt);
    EXPECT_EQ(NumberReader::idOrTime(QVariant(QStringLiteral("0")), 1, 10, Text::Accepted), std::nullopt);
    EXPECT_EQ(NumberReader::idOrTime(QVariant(10.0), 1, 10), 10);
}
