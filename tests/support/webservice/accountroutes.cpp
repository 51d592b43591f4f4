#include "support/webservice/webservicedouble.h"

#include <httplib.h>

#include <QJsonObject>

namespace webdouble {

namespace {

QString pageBase(const Call& call)
{
    const std::string host = call.request.get_header_value("Host");
    return QStringLiteral("http://") + QString::fromStdString(host.empty() ? "127.0.0.1" : host);
}

}  // namespace

void AccountRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    auto rememberDevice = [this](const Call& call) {
        const QString token = call.param("device_token");
        const QString name = call.param("device_name");
        if (!token.isEmpty() && !name.isEmpty())
            m_state.deviceNames[token] = name;
    };

    server.route("GET", "/init/", WebServiceDouble::Auth::None, [this, rememberDevice](const Call& call, httplib::Response& response) {
        rememberDevice(call);
        const auto token = call.params.find("user_token");
        const Account* account = nullptr;
        if (token != call.params.end() && !token->second.empty()) {
            account = m_server->accountForToken(QString::fromStdString(token->second));
            if (!account) {
                WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 403},
                                                        {QStringLiteral("token_expire"), 1},
                                                        {QStringLiteral("cipher"), QJsonObject()}});
                return;
            }
        }
        const QString base = pageBase(call);
        WebServiceDouble::answerJson(
            response, {{QStringLiteral("code"), 0},
                       {QStringLiteral("cipher"), m_server->cipherOf(account)},
                       {QStringLiteral("public_key"), m_server->publicKeyBase64()},
                       {QStringLiteral("data"), QJsonObject{{QStringLiteral("homepage"), base + QStringLiteral("/")},
                                                            {QStringLiteral("developer"), base + QStringLiteral("/developer/")},
                                                            {QStringLiteral("e2ee"), base + QStringLiteral("/help/e2ee.html")}}}});
    });

    server.route("GET", "/check_version/", WebServiceDouble::Auth::None, [this](const Call& call, httplib::Response& response) {
        WebServiceDouble::answerJson(
            response, {{QStringLiteral("code"), 0},
                       {QStringLiteral("data"), QJsonObject{{QStringLiteral("version"), m_state.latestVersion},
                                                            {QStringLiteral("update_info"), m_state.updateInfo},
                                                            {QStringLiteral("download_url"), pageBase(call) + QStringLiteral("/download/")}}}});
    });

    server.route("GET", "/public_key/", WebServiceDouble::Auth::None, [this](const Call&, httplib::Response& response) {
        WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 0}, {QStringLiteral("public_key"), m_server->publicKeyBase64()}});
    });

    auto openPassword = [this](const Call& call) -> std::optional<QString> {
        const QString sealed = call.json ? call.json->value(QStringLiteral("pwd_hash")).toString() : QString();
        const auto decoded = QByteArray::fromBase64Encoding(sealed.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (sealed.isEmpty() || !decoded)
            return std::nullopt;
        const auto plain = m_server->openSealed(decoded.decoded);
        if (!plain)
            return std::nullopt;
        return QString::fromLatin1(*plain);
    };
    auto answerLogin = [this](httplib::Response& response, const Account& account) {
        WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 0},
                                                {QStringLiteral("token"), m_server->issueToken(account.email)},
                                                {QStringLiteral("user_id"), account.userId},
                                                {QStringLiteral("email"), account.email}});
    };

    server.route("POST", "/login_v2/", WebServiceDouble::Auth::None,
                 [rememberDevice, openPassword, answerLogin, this](const Call& call, httplib::Response& response) {
                     rememberDevice(call);
                     const QString email = call.json ? call.json->value(QStringLiteral("username")).toString() : QString();
                     if (email.isEmpty()) {
                         WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 400}});
                         return;
                     }
                     const Account* account = m_server->accountByEmail(email);
                     const auto md5 = openPassword(call);
                     if (!account || !md5 || *md5 != account->passwordMd5) {
                         WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 1003}});
                         return;
                     }
                     answerLogin(response, *account);
                 });

    server.route("POST", "/register_v2/", WebServiceDouble::Auth::None,
                 [rememberDevice, openPassword, answerLogin, this](const Call& call, httplib::Response& response) {
                     rememberDevice(call);
                     const QString email = call.json ? call.json->value(QStringLiteral("username")).toString() : QString();
                     const auto md5 = openPassword(call);
                     if (email.isEmpty() || !md5 || md5->size() != 32) {
                         WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 400}});
                         return;
                     }
                     if (m_server->accountByEmail(email)) {
                         WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 1001}});
                         return;
                     }
                     m_server->addAccountWithPasswordMd5(email, *md5);
                     answerLogin(response, *m_server->accountByEmail(email));
                 });

    server.route("GET", "/forget_pwd/", WebServiceDouble::Auth::None, [this](const Call& call, httplib::Response& response) {
        const QString email = call.param("user_email");
        if (!m_server->accountByEmail(email)) {
            WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 1002}});
            return;
        }
        m_state.mailsSent.push_back(email);
        WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 0}});
    });
}

}  // namespace webdouble
