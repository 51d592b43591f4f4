#include "support/webservice/webservicedouble.h"

#include <httplib.h>

namespace webdouble {

namespace {
const QString kCode = QStringLiteral("code");
}

QJsonObject KeyRoutes::fingerprint(qint64 userId) const
{
    const auto it = m_state.keys.find(userId);
    if (it == m_state.keys.end())
        return {};
    return {{QStringLiteral("key_hash"), it->second.keyDict.value(QStringLiteral("key_hash"))},
            {QStringLiteral("cipher_hash"), it->second.keyDict.value(QStringLiteral("cipher_hash"))}};
}

void KeyRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    using Auth = WebServiceDouble::Auth;

    server.route("GET", "/key/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const auto it = m_state.keys.find(call.account->userId);
        if (it == m_state.keys.end()) {
            WebServiceDouble::answerJson(response, {{kCode, 404}});
            return;
        }
        WebServiceDouble::answerJson(response, {{kCode, 0}, {QStringLiteral("cipher"), it->second.keyDict}});
    });

    auto keyDictOf = [](const Call& call) -> std::optional<QJsonObject> {
        if (!call.json || !call.json->value(QStringLiteral("key_dict")).isObject())
            return std::nullopt;
        return call.json->value(QStringLiteral("key_dict")).toObject();
    };
    auto verifierOf = [](const Call& call) { return call.json->value(QStringLiteral("pwd_verifier")).toString(); };

    server.route("PUT", "/key/", Auth::Token, [this, keyDictOf, verifierOf](const Call& call, httplib::Response& response) {
        const auto keyDict = keyDictOf(call);
        if (!keyDict) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        if (m_state.keys.count(call.account->userId)) {
            WebServiceDouble::answerJson(response, {{kCode, 409}});
            return;
        }
        m_state.keys[call.account->userId] = StoredKey{*keyDict, verifierOf(call)};
        WebServiceDouble::answerJson(response, {{kCode, 0}});
    });

    server.route("POST", "/key/", Auth::Token, [this, keyDictOf, verifierOf](const Call& call, httplib::Response& response) {
        const auto keyDict = keyDictOf(call);
        if (!keyDict) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        const auto it = m_state.keys.find(call.account->userId);
        if (it == m_state.keys.end()) {
            WebServiceDouble::answerJson(response, {{kCode, 404}});
            return;
        }
        if (call.json->value(QStringLiteral("last_pwd_hash")).toString() != it->second.pwdVerifier) {
            WebServiceDouble::answerJson(response, {{kCode, 401}});
            return;
        }
        if (keyDict->value(QStringLiteral("key_hash")) != it->second.keyDict.value(QStringLiteral("key_hash"))) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        it->second = StoredKey{*keyDict, verifierOf(call)};
        WebServiceDouble::answerJson(response, {{kCode, 0}});
    });

    server.route("POST", "/revert_key/", Auth::Token, [this, keyDictOf, verifierOf](const Call& call, httplib::Response& response) {
        const auto keyDict = keyDictOf(call);
        if (!keyDict) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        const auto sealed = QByteArray::fromBase64Encoding(
            call.json->value(QStringLiteral("pwd_hash_cipher")).toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        const auto md5 = sealed ? m_server->openSealed(sealed.decoded) : std::nullopt;
        if (!md5 || QString::fromLatin1(*md5) != call.account->passwordMd5) {
            WebServiceDouble::answerJson(response, {{kCode, -5}});
            return;
        }
        m_state.keys[call.account->userId] = StoredKey{*keyDict, verifierOf(call)};
        WebServiceDouble::answerJson(response, {{kCode, 0}});
    });
}

}  // namespace webdouble
