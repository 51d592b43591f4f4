#include "platform/numberreader.h"

#include <cmath>

namespace {

// 2^63 as a double: the first double above qint64's range.
constexpr double kTwoTo63 = 9223372036854775808.0;

std::optional<qint64> wholeOfDouble(double d)
{
    if (!std::isfinite(d))
        return std::nullopt;
    const double t = std::trunc(d);
    if (t >= kTwoTo63 || t < -kTwoTo63)
        return std::nullopt;
    return static_cast<qint64>(t);
}

std::optional<qint64> wholeOfText(const QString& text)
{
    const QString s = text.trimmed();
    if (s.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 n = s.toLongLong(&ok, 10);
    if (ok)
        return n;
    const double d = s.toDouble(&ok);
    return ok ? wholeOfDouble(d) : std::nullopt;
}

std::optional<qint64> inRange(std::optional<qint64> n, qint64 min, qint64 max)
{
    if (!n || *n < min || *n > max)
        return std::nullopt;
    return n;
}

// How realNumber and idOrTime read a value's type; the char types are no number to either.
enum class Form { Boolean, Integer, Real, Text, Other };

Form formOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return Form::Boolean;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return Form::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return Form::Real;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return Form::Text;
    default:
        return Form::Other;
    }
}

}  // namespace

namespace NumberReader {

std::optional<qint64> wholeNumber(const QVariant& value, qint64 min, qint64 max)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return inRange(value.toLongLong(), min, max);
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const qulonglong u = value.toULongLong();
        if (u > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return inRange(static_cast<qint64>(u), min, max);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return inRange(wholeOfDouble(value.toDouble()), min, max);
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return inRange(wholeOfText(value.toString()), min, max);
    default:
        return std::nullopt;
    }
}

std::optional<double> realNumber(const QVariant& value, double min, double max)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    double d = 0;
    switch (formOf(value)) {
    case Form::Boolean:
    case Form::Integer:
    case Form::Real:
        d = value.toDouble();
        break;
    case Form::Text: {
        const QString s = value.toString().trimmed();
        bool ok = false;
        d = s.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        break;
    }
    case Form::Other:
        return std::nullopt;
    }
    if (!std::isfinite(d) || d < min || d > max)
        return std::nullopt;
    return d;
}

std::optional<qint64> idOrTime(const QVariant& value, qint64 min, qint64 max, Text text)
{
    switch (formOf(value)) {
    case Form::Integer:
        return wholeNumber(value, min, max);
    case Form::Real: {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d != std::trunc(d))
            return std::nullopt;
        return inRange(wholeOfDouble(d), min, max);
    }
    case Form::Text: {
        if (text != Text::Accepted)
            return std::nullopt;
        const QString s = value.toString().trimmed();
        const qsizetype start = s.startsWith(u'-') || s.startsWith(u'+') ? 1 : 0;
        if (s.size() == start)
            return std::nullopt;
        for (qsizetype i = start; i < s.size(); ++i)
            if (s.at(i) < u'0' || s.at(i) > u'9')
                return std::nullopt;
        bool ok = false;
        const qint64 n = s.toLongLong(&ok, 10);
        return ok ? inRange(n, min, max) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> jsonInteger(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return wholeNumber(value);
    default:
        return std::nullopt;
    }
}

qint64 jsonIntegerOrZero(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::Double:
        return wholeNumber(value).value_or(0);
    default:
        return 0;
    }
}

}  // namespace NumberReader
