#include "support/webservice/webservicedouble.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QMessageAuthenticationCode>

namespace webdouble {

namespace {

const QByteArray kSecret = QByteArrayLiteral("nuvarel-test-secret");

QString objectKey(qint64 userId, const QString& fileHash)
{
    return QString::number(userId) + QLatin1Char('/') + fileHash;
}

QString sign(const QString& policy)
{
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(policy.toLatin1(), kSecret, QCryptographicHash::Sha1).toBase64());
}

}  // namespace

void FileRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    using Auth = WebServiceDouble::Auth;

    server.route("GET", "/get_upload_token/", Auth::TokenHttp401, [this](const Call& call, httplib::Response& response) {
        const QString fileHash = call.param("file_hash");
        const qint64 fileId = call.param("file_id").toLongLong();
        if (fileId <= 0 || !m_server->clipRoutes().find(call.account->userId, fileHash, fileId)) {
            response.status = 404;
            return;
        }
        const QString key = objectKey(call.account->userId, fileHash);
        m_state.issued[key] = Upload{call.account->userId, fileHash, fileId, call.param("device_token")};
        const QString policy = QString::fromLatin1(
            QJsonDocument(QJsonObject{{QStringLiteral("key"), key}, {QStringLiteral("expiration"), m_server->nextTimestamp() + 3600}})
                .toJson(QJsonDocument::Compact)
                .toBase64());
        const QString callback = QString::fromLatin1(
            QJsonDocument(QJsonObject{{QStringLiteral("callbackBody"), QStringLiteral("key=${object}")}})
                .toJson(QJsonDocument::Compact)
                .toBase64());
        const std::string host = call.request.get_header_value("Host");
        WebServiceDouble::answerJson(response, {{QStringLiteral("host"), QStringLiteral("http://") + QString::fromStdString(host) + QStringLiteral("/oss/")},
                                                {QStringLiteral("key"), key},
                                                {QStringLiteral("policy"), policy},
                                                {QStringLiteral("callback"), callback},
                                                {QStringLiteral("accessid"), QString::fromLatin1(kAccessId)},
                                                {QStringLiteral("signature"), sign(policy)}});
    });

    server.route("POST", "/oss/", Auth::None, [this](const Call& call, httplib::Response& response) {
        static const std::vector<std::string> order = {"OSSAccessKeyID", "callback", "key", "policy",
                                                       "signature", "success_action_status", "file"};
        std::vector<std::string> names;
        for (const auto& part : call.parts)
            names.push_back(part.name);
        if (names != order) {
            response.status = 400;
            response.set_content("{\"code\":400,\"msg\":\"form parts out of order\"}", "application/json");
            return;
        }
        auto value = [&call](size_t index) { return QString::fromStdString(call.parts[index].content); };
        const QString key = value(2);
        const auto issued = m_state.issued.find(key);
        if (value(0) != QLatin1String(kAccessId) || value(4) != sign(value(3)) || issued == m_state.issued.end()) {
            response.status = 403;
            response.set_content("{\"code\":403,\"msg\":\"signature does not match\"}", "application/json");
            return;
        }
        const QByteArray body = QByteArray::fromStdString(call.parts[6].content);
        m_state.bodies[key] = body;
        const Upload upload = issued->second;
        if (ClipRoutes::StoredClip* clip = m_server->clipRoutes().find(upload.userId, upload.fileHash, upload.fileId)) {
            clip->history.insert(QStringLiteral("file_ready"), 1);
            clip->history.insert(QStringLiteral("file_size"), body.size());
            m_server->clipRoutes().touch(*clip);
            m_server->publish(upload.userId, QStringLiteral("history_upload_file"),
                              {{QStringLiteral("device_token"), upload.deviceToken},
                               {QStringLiteral("file_hash"), upload.fileHash},
                               {QStringLiteral("history_id"), clip->history.value(QStringLiteral("history_id"))},
                               {QStringLiteral("file_id"), upload.fileId}});
        }
        WebServiceDouble::answerJson(response, {{QStringLiteral("code"), 0}});
    });

    server.route("GET", "/download_file/", Auth::TokenHttp401, [this](const Call& call, httplib::Response& response) {
        const QString fileHash = call.param("file_hash");
        const qint64 fileId = call.param("file_id").toLongLong();
        const auto body = m_state.bodies.find(objectKey(call.account->userId, fileHash));
        if (body == m_state.bodies.end() || !m_server->clipRoutes().find(call.account->userId, fileHash, fileId)) {
            response.status = 404;
            return;
        }
        response.status = 200;
        response.set_content(body->second.toStdString(), "application/octet-stream");
    });
}

}  // namespace webdouble
