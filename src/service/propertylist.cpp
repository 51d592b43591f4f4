#include "service/propertylist.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// nullptr for a value of a kind a property list does not hold.
plist_t toNode(const QVariant& value, int depth)
{
    if (depth > PropertyList::kMaxDepth)
        return nullptr;
    switch (value.typeId()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        // libplist keeps every integer as 64 bits; negative numbers as their two's complement.
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            if (plist_t item = toNode(it.value(), depth + 1))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), item);
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant& element : value.toList())
            if (plist_t item = toNode(element, depth + 1))
                plist_array_append_item(array, item);
        return array;
    }
    default:
        return nullptr;
    }
}

// An invalid QVariant for a kind left out; *tooDeep set when the nesting limit is passed.
QVariant fromNode(plist_t node, int depth, bool* tooDeep)
{
    if (depth > PropertyList::kMaxDepth) {
        *tooDeep = true;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t n = 0;
        plist_get_uint_val(node, &n);
        return QVariant(qint64(n));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(text, qsizetype(length)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QVariant(QByteArray(bytes, qsizetype(length)));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i) {
            QVariant element = fromNode(plist_array_get_item(node, i), depth + 1, tooDeep);
            if (element.isValid())
                list.append(element);
        }
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter)
            return map;
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            if (!item) {
                free(key);
                break;
            }
            QVariant element = fromNode(item, depth + 1, tooDeep);
            if (key && element.isValid())
                map.insert(QString::fromUtf8(key), element);
            free(key);
        }
        free(iter);
        return map;
    }
    default:
        return {};
    }
}

}  // namespace

std::optional<QVariantMap> PropertyList::dictionaryFromBinary(const QByteArray& data)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    if (!plist_is_binary(data.constData(), uint32_t(data.size())))
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    PlistPtr owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return std::nullopt;
    bool tooDeep = false;
    const QVariant value = fromNode(root, 0, &tooDeep);
    if (tooDeep)
        return std::nullopt;
    return value.toMap();
}

QByteArray PropertyList::binaryFromDictionary(const QVariantMap& dict)
{
    PlistPtr root(toNode(QVariant(dict), 0));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.get()), &bytes, &length);
    if (!bytes)
        return {};
    QByteArray out(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return out;
}
