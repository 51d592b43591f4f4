#pragma once

#include <QByteArray>
#include <QString>

#include <map>

namespace webdouble {

class WebServiceDouble;

// "/get_upload_token/" and "/download_file/" (GET, with a login token; HTTP 401 without a
// valid one) and the object store's form post at "/oss/" (no token: the signed policy
// stands for it).
//
// Choices:
// - get_upload_token: "&file_hash=" and "&file_id=" must name a clip of the account (else
//   HTTP 404); answers {"host": "<double>/oss/", "key": "<user id>/<file_hash>", "policy":
//   Base64 JSON, "callback": Base64 JSON, "accessid", "signature": Base64 HMAC-SHA1 of the
//   policy under the double's secret}.
// - /oss/: the parts must come as "OSSAccessKeyID", "callback", "key", "policy",
//   "signature", "success_action_status", "file", in that order (else HTTP 400), the
//   signature must match the policy and the key one the double issued (else HTTP 403).
//   The body is stored, the clip gets "file_ready" 1 and "file_size", and
//   "history_upload_file" is published; the answer is HTTP 200 {"code": 0}.
// - download_file: the stored body (HTTP 200, application/octet-stream), or HTTP 404 when
//   the server holds no body for that clip.
class FileRoutes {
public:
    struct Upload {
        qint64 userId = 0;
        QString fileHash;
        qint64 fileId = 0;
        QString deviceToken;  // of the device that asked for the token
    };
    struct State {
        std::map<QString, Upload> issued;        // by object key
        std::map<QString, QByteArray> bodies;    // by object key
    };

    static constexpr const char* kAccessId = "nuvarel-test-access";

    void install(WebServiceDouble& server);
    State& state() { return m_state; }

private:
    WebServiceDouble* m_server = nullptr;
    State m_state;
};

}  // namespace webdouble
