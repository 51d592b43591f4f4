#pragma once

#include <QVariant>

#include <limits>
#include <optional>

// The one way a number from a file, a setting or a server becomes a C++ number. Every read
// is range-checked: a value outside [min, max], a NaN or infinity, or text that is not a
// number gives nothing, never an undefined conversion.
namespace NumberReader {

// An integer, a boolean, a finite double (its whole part, toward zero) or numeric text
// (surrounding blanks allowed), when it lies within [min, max].
std::optional<qint64> wholeNumber(const QVariant& value,
                                  qint64 min = std::numeric_limits<qint64>::min(),
                                  qint64 max = std::numeric_limits<qint64>::max());

// A finite number (integer, boolean, double or numeric text) within [min, max].
std::optional<double> realNumber(const QVariant& value,
                                 double min = std::numeric_limits<double>::lowest(),
                                 double max = std::numeric_limits<double>::max());

// Whether a decimal text may stand for an id or a time.
enum class Text { Refused, Accepted };

// An id or a time from a server, a broker message or a stored value, within [min, max]: an
// integer, or a double without a fraction; with Text::Accepted also decimal digits as text
// (the lenient "read as an integer" of an id). Never a boolean, a fraction, an exponent or
// other text: JSON true is not the id 1.
std::optional<qint64> idOrTime(const QVariant& value,
                               qint64 min = std::numeric_limits<qint64>::min(),
                               qint64 max = std::numeric_limits<qint64>::max(),
                               Text text = Text::Refused);

// Reply values (QJsonValue::toVariant gives qlonglong for JSON integers, double otherwise).
// Strict: present and a JSON integer; nothing for a fraction, a string, a boolean or null.
std::optional<qint64> jsonInteger(const QVariant& value);
// Lenient ("read as an integer"): a JSON integer, an integral double in range, or numeric
// text; anything else reads as 0.
qint64 jsonIntegerOrZero(const QVariant& value);

}  // namespace NumberReader
