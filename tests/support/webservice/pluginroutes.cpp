#include "support/webservice/webservicedouble.h"

#include <httplib.h>

#include <QUrlQuery>

namespace webdouble {

void PluginRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    using Auth = WebServiceDouble::Auth;

    server.route("GET", "/plugins/", Auth::None, [this](const Call& call, httplib::Response& response) {
        const QString base = QString::fromLatin1(m_server->scheme()) + QStringLiteral("://")
                             + QString::fromStdString(call.request.get_header_value("Host"));
        QJsonObject urls;
        QJsonObject dict;
        for (const Plugin& plugin : m_state.plugins) {
            QUrlQuery query;
            query.addQueryItem(QStringLiteral("bundle_id"), plugin.bundleId);
            query.addQueryItem(QStringLiteral("version"), plugin.version);
            urls.insert(plugin.bundleId, base + QStringLiteral("/plugin_package/?") + query.toString(QUrl::FullyEncoded));
            dict.insert(plugin.bundleId, QJsonObject{{QStringLiteral("name"), plugin.name},
                                                     {QStringLiteral("desc"), plugin.desc},
                                                     {QStringLiteral("version"), plugin.version},
                                                     {QStringLiteral("author"), plugin.author},
                                                     {QStringLiteral("bundle_id"), plugin.bundleId}});
        }
        WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 0},
                                                {QStringLiteral("plugin_url"), urls},
                                                {QStringLiteral("plugin_dict"), dict}});
    });

    server.route("GET", "/plugin_package/", Auth::None, [this](const Call& call, httplib::Response& response) {
        for (const Plugin& plugin : m_state.plugins) {
            if (plugin.bundleId == call.param("bundle_id") && plugin.version == call.param("version")) {
                response.status = 200;
                response.set_content(plugin.package.toStdString(), "application/octet-stream");
                return;
            }
        }
        response.status = 404;
    });
}

}  // namespace webdouble
