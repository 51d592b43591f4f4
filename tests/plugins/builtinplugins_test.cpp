#include "plugins/pluginmanager.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

// The plugins shipped in plugins.bundle beside the program, as the build tree holds them.
TEST(BuiltinPlugins, ShipWithChineseNamesAndDoWhatTheySay)
{
    PluginManager manager;
    const PluginDict all = manager.listPlugins();
    struct Case {
        const char* bundleId;
        const char* name;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"com.nuvarel.plugin.uppercase", "转为大写", "Hello, 世界 abc", "HELLO, 世界 ABC"},
        {"com.nuvarel.plugin.lowercase", "转为小写", "Hello, 世界 ABC", "hello, 世界 abc"},
        {"com.nuvarel.plugin.trim", "去除首尾空白", " \t\u3000\u00a0 你好  world\u3000 \r\n", "你好  world"},
        {"com.nuvarel.plugin.trim", "去除首尾空白", " \u3000 \n", ""},
        {"com.nuvarel.plugin.trim", "去除首尾空白", "中", "中"},
        {"com.nuvarel.plugin.joinlines", "合并为一行", "第一行\n  第二行 \r\n\r\nword\n next\rline", "第一行第二行word next line"},
        {"com.nuvarel.plugin.joinlines", "合并为一行", "one", "one"},
        {"com.nuvarel.plugin.removeblanklines", "去除空行", "a\n\n \t\n  b\n\nc", "a\n  b\nc"},
        {"com.nuvarel.plugin.removeblanklines", "去除空行", "a\r\n\r\nb\r\n", "a\r\nb"},
    };
    for (const Case& c : cases) {
        const PluginObjectPtr plugin = all.value(QString::fromUtf8(c.bundleId));
        ASSERT_TRUE(plugin) << c.bundleId;
        EXPECT_EQ(plugin->plugin_name(), QString::fromUtf8(c.name));
        EXPECT_FALSE(plugin->plugin_desc().value_or(QString()).isEmpty());
        EXPECT_EQ(plugin->source(), PluginObject::Source::Builtin);
        EXPECT_EQ(manager.processText(QString::fromUtf8(c.in), plugin), QString::fromUtf8(c.out)) << c.bundleId << " " << c.in;
    }
    EXPECT_TRUE(manager.listUserPlugins().isEmpty());
}
