#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace webdouble {

class WebServiceDouble;

// "/plugins/" (the store list, no token) and "/plugin_package/" (a package's bytes).
//
// Choices:
// - plugins: {"code": 0, "plugin_url": {bundle id: "<double>/plugin_package/?bundle_id=..&
//   version=.."}, "plugin_dict": {bundle id: {"name", "desc", "version", "author",
//   "bundle_id"}}} from the state below (empty by default).
// - plugin_package: the package bytes of that bundle id and version, or HTTP 404.
class PluginRoutes {
public:
    struct Plugin {
        QString bundleId;
        QString name;
        QString desc;
        QString version;
        QString author;
        QByteArray package;
    };
    struct State {
        std::vector<Plugin> plugins;
    };

    void install(WebServiceDouble& server);
    State& state() { return m_state; }

private:
    WebServiceDouble* m_server = nullptr;
    State m_state;
};

}  // namespace webdouble
