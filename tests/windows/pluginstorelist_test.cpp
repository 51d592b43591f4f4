#include "store/pathhelper.h"
#include "support/testenv.h"
#include "windows/pluginstorelist.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QJsonObject json(const char* text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

QStringList bundleIds(const PluginStoreList& list)
{
    QStringList ids;
    for (const PluginObjectPtr& plugin : list.plugins())
        ids << plugin->plugin_bundle_id().value_or(QStringLiteral("<none>"));
    return ids;
}

}  // namespace

TEST(PluginStoreList, ReadsTheEntriesByTheirOwnBundleIdNotTheirKey)
{
    const PluginStoreList list = PluginStoreList::fromReply(json(R"({"code":0,
        "plugin_url":{"a.one":"https://store.test/one.cpk","b.two":"http://127.0.0.1:8080/two.cpk"},
        "plugin_dict":{"x":{"name":"One","desc":"first","version":"1.2","author":"Ann","bundle_id":"a.one"},
                       "y":{"name":"Two","version":"2.0","bundle_id":"b.two"}}})"));
    EXPECT_EQ(bundleIds(list), (QStringList{QStringLiteral("a.one"), QStringLiteral("b.two")}));
    const PluginObject& one = *list.plugins().first();
    EXPECT_EQ(one.plugin_name(), QStringLiteral("One"));
    EXPECT_EQ(one.plugin_desc(), QStringLiteral("first"));
    EXPECT_EQ(one.plugin_version(), QStringLiteral("1.2"));
    EXPECT_EQ(one.plugin_author(), QStringLiteral("Ann"));
    EXPECT_FALSE(one.hasPlugin());
    EXPECT_EQ(list.urlFor(QStringLiteral("b.two")), QStringLiteral("http://127.0.0.1:8080/two.cpk"));
    EXPECT_EQ(list.pluginURLDict().size(), 2);
}

TEST(PluginStoreList, HostileRepliesGiveOnlyTheSoundEntries)
{
    struct Case {
        const char* name;
        const char* reply;
        QStringList kept;
    };
    const QString good = QStringLiteral("good");
    const Case cases[] = {
        {"plugin_url not an object", R"({"plugin_url":["https://s.test/p"],"plugin_dict":{"k":{"name":"n","bundle_id":"good"}}})", {}},
        {"plugin_dict not an object", R"({"plugin_url":{"good":"https://s.test/p"},"plugin_dict":"nope"})", {}},
        {"plugin_dict a list", R"({"plugin_url":{"good":"https://s.test/p"},"plugin_dict":[{"bundle_id":"good"}]})", {}},
        {"neither present", R"({"code":0})", {}},
        {"entry not an object", R"({"plugin_url":{"good":"https://s.test/p"},"plugin_dict":{"a":"good","b":{"bundle_id":"good"}}})", {good}},
        {"no bundle id", R"({"plugin_url":{"":"https://s.test/p","good":"https://s.test/g"},"plugin_dict":{"a":{"name":"x"},"b":{"bundle_id":"good"}}})", {good}},
        {"bundle id a number", R"({"plugin_url":{"12":"https://s.test/p","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":12},"b":{"bundle_id":"good"}}})", {good}},
        {"empty bundle id", R"({"plugin_url":{"":"https://s.test/p","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":""},"b":{"bundle_id":"good"}}})", {good}},
        {"file URL", R"({"plugin_url":{"evil":"file:///etc/passwd","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"evil"},"b":{"bundle_id":"good"}}})", {good}},
        {"relative URL", R"({"plugin_url":{"evil":"/etc/passwd","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"evil"},"b":{"bundle_id":"good"}}})", {good}},
        {"other scheme", R"({"plugin_url":{"evil":"ftp://s.test/p","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"evil"},"b":{"bundle_id":"good"}}})", {good}},
        {"URL not a text", R"({"plugin_url":{"evil":7,"good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"evil"},"b":{"bundle_id":"good"}}})", {good}},
        {"no URL at all", R"({"plugin_url":{"good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"lonely"},"b":{"bundle_id":"good"}}})", {good}},
        {"http without a host", R"({"plugin_url":{"evil":"http:///p","good":"https://s.test/g"},"plugin_dict":{"a":{"bundle_id":"evil"},"b":{"bundle_id":"good"}}})", {good}},
    };
    for (const Case& c : cases) {
        const PluginStoreList list = PluginStoreList::fromReply(json(c.reply));
        EXPECT_EQ(bundleIds(list), c.kept) << c.name;
        EXPECT_EQ(list.pluginURLDict().keys(), c.kept) << c.name;
    }
}

TEST(PluginStoreList, FieldsOfTheWrongTypeAreLeftEmpty)
{
    const PluginStoreList list = PluginStoreList::fromReply(json(R"({
        "plugin_url":{"good":"https://s.test/g"},
        "plugin_dict":{"b":{"bundle_id":"good","name":["x"],"version":1.5,"desc":null,"author":{}}}})"));
    ASSERT_EQ(list.plugins().size(), 1);
    const PluginObject& plugin = *list.plugins().first();
    EXPECT_EQ(plugin.plugin_name(), std::nullopt);
    EXPECT_EQ(plugin.plugin_version(), std::nullopt);
    EXPECT_EQ(plugin.plugin_desc(), std::nullopt);
    EXPECT_EQ(plugin.plugin_author(), std::nullopt);
}

TEST(PluginStoreList, TheCacheKeepsTheWholeReplyUnderItsName)
{
    EXPECT_EQ(PluginStoreList::cacheFilePath(), PathHelper::getDataFilePath(QStringLiteral("NAME_PLUGIN_LIST")));
    EXPECT_TRUE(PluginStoreList::readCache().isEmpty());
    const QJsonObject reply = json(R"({"code":0,"extra":[1,2],"plugin_url":{"good":"https://s.test/g"},
        "plugin_dict":{"b":{"bundle_id":"good","name":"Good"}}})");
    ASSERT_TRUE(PluginStoreList::storeCache(reply));
    EXPECT_EQ(PluginStoreList::readCache(), reply);
    // The next reply replaces it whole; no temporary file is left beside it.
    const QJsonObject next = json(R"({"code":0,"plugin_url":{},"plugin_dict":{}})");
    ASSERT_TRUE(PluginStoreList::storeCache(next));
    EXPECT_EQ(PluginStoreList::readCache(), next);
    EXPECT_EQ(QDir(PathHelper::getDataFilePath()).entryList(QDir::Files), QStringList{QStringLiteral("NAME_PLUGIN_LIST")});
}

TEST(PluginStoreList, ACacheFileThatIsNotAnObjectIsAnEmptyList)
{
    const QByteArray contents[] = {"", "not json", "[1,2,3]", "\"text\"", "{\"plugin_dict\":", QByteArray("\x00\x01\x02", 3)};
    for (const QByteArray& bytes : contents) {
        QFile file(PluginStoreList::cacheFilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        EXPECT_TRUE(PluginStoreList::readCache().isEmpty()) << bytes.toStdString();
        EXPECT_TRUE(PluginStoreList::fromReply(PluginStoreList::readCache()).plugins().isEmpty());
    }
}
