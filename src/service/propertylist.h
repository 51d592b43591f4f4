#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Binary property lists (the keychain item's format) to and from Qt values, through libplist.
// Data is QByteArray, text QString, integers qint64, reals double, booleans bool; arrays and
// dictionaries are QVariantList and QVariantMap. Dates and other kinds are left out.
class PropertyList {
public:
    // The dictionary a binary property list holds; none when the bytes are not a binary
    // property list, its root is not a dictionary, or it nests deeper than kMaxDepth.
    static std::optional<QVariantMap> dictionaryFromBinary(const QByteArray& data);
    // The dictionary as a binary property list; values of other kinds are left out.
    static QByteArray binaryFromDictionary(const QVariantMap& dict);

    static constexpr int kMaxDepth = 32;
};
