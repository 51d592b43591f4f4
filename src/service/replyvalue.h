#pragma once

#include <QVariant>

#include <optional>

// Values read from a decoded JSON reply (QJsonValue::toVariant: qlonglong for integers,
// double otherwise). Server input is untrusted: a value of the wrong type is never taken
// for a number by accident.
class ReplyValue {
public:
    // Present and a JSON integer; nothing for a fraction, a string, a boolean or null.
    static std::optional<qint64> integer(const QVariant& value);
};
