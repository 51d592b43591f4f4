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

// Reply values (QJsonValue::toVariant gives qlonglong for JSON integers, double otherwise).
// Strict: present and a JSON integer; nothing for a fraction, a string, a boolean or null.
std::optional<qint64> jsonInteger(const QVariant& value);
// Lenient ("read as an integer"): a JSON integer, an integral double in range, or numeric
// text; anything else reads as 0.
qint64 jsonIntegerOrZero(const QVariant& value);

}  // namespace NumberReader
