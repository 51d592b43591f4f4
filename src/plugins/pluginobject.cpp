#include "plugins/pluginobject.h"

#include <QJsonValue>

namespace {

// Store replies are untrusted: only a string is taken as a text.
std::optional<QString> textOf(const QJsonObject& dictionary, const char* key)
{
    const QJsonValue value = dictionary.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

}  // namespace

PluginObjectPtr PluginObject::loadFromJsonDict(const QJsonObject& dictionary)
{
    auto object = std::make_shared<PluginObject>();
    object->setPlugin_author(textOf(dictionary, "author"));
    object->setPlugin_bundle_id(textOf(dictionary, "bundle_id"));
    object->setPlugin_name(textOf(dictionary, "name"));
    object->setPlugin_desc(textOf(dictionary, "desc"));
    object->setPlugin_version(textOf(dictionary, "version"));
    object->setCount(0);
    return object;
}
