#include "service/propertylist.h"
#include "service/zeromanager.h"

#include <gtest/gtest.h>

#include <plist/plist.h>

#include <cstdlib>

// Reads a property list with libplist directly, to check what we wrote is what a reader sees.
static plist_t parse(const QByteArray& bytes)
{
    plist_t root = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    return root;
}

TEST(PropertyList, TheKeychainItemIsABinaryPlistOfTwoDataValues)
{
    const QByteArray key(112, '\x01');
    const QByteArray cipher(128, '\0');
    const QByteArray bytes = ZeroManager::plistDataDict({{"keyData", key}, {"cipherData", cipher}});
    ASSERT_TRUE(bytes.startsWith("bplist00"));

    plist_t root = parse(bytes);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(plist_get_node_type(root), PLIST_DICT);
    EXPECT_EQ(plist_dict_get_size(root), 2u);
    plist_t node = plist_dict_get_item(root, "cipherData");
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(plist_get_node_type(node), PLIST_DATA);
    uint64_t length = 0;
    const char* data = plist_get_data_ptr(node, &length);
    EXPECT_EQ(QByteArray(data, qsizetype(length)), cipher);
    plist_free(root);

    const auto back = ZeroManager::dictionaryWithPlistData(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->value("keyData").toByteArray(), key);
    EXPECT_EQ(back->value("cipherData").toByteArray(), cipher);
}

TEST(PropertyList, ValuesOfEveryKindRoundTrip)
{
    const QVariantMap dict{{"text", QStringLiteral("钥匙")},
                           {"negative", qint64(-5)},
                           {"big", qint64(1) << 40},
                           {"real", 2.5},
                           {"yes", true},
                           {"list", QVariantList{QStringLiteral("a"), qint64(1)}},
                           {"inner", QVariantMap{{"data", QByteArray("\x00\x01", 2)}}}};
    const auto back = ZeroManager::dictionaryWithPlistData(ZeroManager::plistDataDict(dict));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, dict);
}

TEST(PropertyList, AnythingButADictionaryInABinaryPlistIsNone)
{
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_string("x"));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(array, &bin, &length);
    const QByteArray arrayPlist(bin, qsizetype(length));
    plist_to_bin_free(bin);
    plist_free(array);

    const QByteArray valid = ZeroManager::plistDataDict({{"k", QStringLiteral("v")}});
    const std::optional<QByteArray> inputs[] = {
        std::nullopt,
        QByteArray(),
        QByteArray("bplist00"),
        valid.left(valid.size() - 3),
        arrayPlist,
        QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>"),
        QByteArray(300, '\xff'),
    };
    for (const auto& input : inputs)
        EXPECT_FALSE(ZeroManager::dictionaryWithPlistData(input).has_value())
            << (input ? input->toHex().left(40).toStdString() : "none");
}

TEST(PropertyList, NestingBeyondTheLimitIsRefused)
{
    QVariantMap deep{{"leaf", true}};
    for (int i = 0; i < PropertyList::kMaxDepth + 2; ++i)
        deep = QVariantMap{{"next", deep}};
    // Writing drops what lies too deep; reading a list nested too deep refuses it as a whole.
    plist_t root = plist_new_dict();
    plist_t node = root;
    for (int i = 0; i < PropertyList::kMaxDepth + 2; ++i) {
        plist_t inner = plist_new_dict();
        plist_dict_set_item(node, "next", inner);
        node = inner;
    }
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    const QByteArray bytes(bin, qsizetype(length));
    plist_to_bin_free(bin);
    plist_free(root);
    EXPECT_FALSE(ZeroManager::dictionaryWithPlistData(bytes).has_value());
    EXPECT_TRUE(ZeroManager::dictionaryWithPlistData(ZeroManager::plistDataDict(deep)).has_value());
}
