#include "platform/numberreader.h"

#include <gtest/gtest.h>

#include <cmath>

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
