#pragma once

// A test double of the web service: the JSON API, the object store's form post and the
// MQTT publishes, over real HTTP (or HTTPS) on a loopback port. Tests start it in-process;
// build/bin/nuvarel-test-server runs it on its own.
//
// The core (this class) serves, records every request (method, path, raw query text, body),
// injects faults per path, keeps accounts with tokens and expiry, holds the server's libsodium
// box key pair and publishes MQTT messages. Each endpoint group lives in its own class and
// file with its own state (accountroutes, keyroutes, cliproutes, favouriteroutes, fileroutes,
// pluginroutes). All state, the core's and the groups', is guarded by one lock (lock()):
// handlers run under it, and tests take it to read or seed a group's state.
//
// Reply choices where the client leaves the field to the service:
// - Every JSON reply is an object with an integer "code"; 0 is success.
// - A missing, unknown or expired "user_token" on an endpoint that needs one answers HTTP
//   200 with {"code": 403, "token_expire": 1, "msg": ...}; "/get_upload_token/" and
//   "/download_file/" answer HTTP 401 instead (the status the client acts on there).
// - A body that is not the expected JSON answers {"code": 400}.
// - "cipher" (init, clear-history, get-favourite, pull) is {"key_hash", "cipher_hash"} of the
//   account's stored key, or {} when it holds none or nobody is logged in.
// - Times ("request_timestamp", change marks) come from one server clock: Unix seconds, but
//   never the same value twice, so a pull bookmark never hides a change made in its second.
// Group-specific choices are written in each group's header.

#include "support/webservice/accountroutes.h"
#include "support/webservice/cliproutes.h"
#include "support/webservice/favouriteroutes.h"
#include "support/webservice/fileroutes.h"
#include "support/webservice/keyroutes.h"
#include "support/webservice/pluginroutes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct MultipartFormData;
struct Request;
struct Response;
}  // namespace httplib

namespace webdouble {

class MqttPublisher;

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;  // the raw text after "?", exactly as received
    std::string body;
    std::string contentType;  // the Content-Type header, for checks; not printed
};

// Holds the requests that meet it until it is opened (or the server stops), so a test can
// act while a request is known to be in flight and then let it be answered.
class Gate {
public:
    void open();
    // Blocks until opened; counts the requests that arrived.
    void pass();
    // How many requests have reached the gate so far.
    int arrived() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_open = false;
    int m_arrived = 0;
};

// What to answer instead of (or on top of) the endpoint's own reply.
struct Fault {
    std::chrono::milliseconds delay{0};  // wait before answering
    std::optional<int> httpStatus;       // the HTTP status of the answer
    std::optional<int> code;             // replaces "code" in the endpoint's JSON reply
    std::optional<std::string> body;     // answered as is (garbage, or "" for an empty body)
    bool chunked = false;                // the body goes out chunked, with no length announced
    // The body's type; the server compresses JSON for a client that accepts it, never octets.
    std::string contentType = "application/json";
    std::map<std::string, std::string> headers;  // added to the answer (a redirect's "Location")
    // When set, the answer's body never ends: one byte per interval until the client leaves.
    std::chrono::milliseconds trickle{0};
    int times = 0;                       // how many requests it applies to; 0: until cleared
    std::shared_ptr<Gate> gate;          // held there (after the delay) until it opens

    static Fault status(int httpStatus)
    {
        Fault fault;
        fault.httpStatus = httpStatus;
        return fault;
    }
    static Fault replyCode(int code)
    {
        Fault fault;
        fault.code = code;
        return fault;
    }
    static Fault rawBody(std::string body, std::optional<int> httpStatus = std::nullopt)
    {
        Fault fault;
        fault.body = std::move(body);
        fault.httpStatus = httpStatus;
        return fault;
    }
    static Fault delayed(std::chrono::milliseconds delay)
    {
        Fault fault;
        fault.delay = delay;
        return fault;
    }
    static Fault held(std::shared_ptr<Gate> gate, int times = 0)
    {
        Fault fault;
        fault.gate = std::move(gate);
        fault.times = times;
        return fault;
    }
    static Fault redirect(int httpStatus, std::string location)
    {
        Fault fault = rawBody("", httpStatus);
        fault.headers["Location"] = std::move(location);
        return fault;
    }
    static Fault trickling(std::chrono::milliseconds interval)
    {
        Fault fault;
        fault.trickle = interval;
        return fault;
    }
};

struct Published {
    std::string topic;
    std::string payload;
};

struct Account {
    QString email;
    QString passwordMd5;  // MD5 hex of the password
    qint64 userId = 0;
};

// One handled call: the request, its form-decoded query, its JSON body (an object, or
// nothing) and, when the token checked out, the account.
struct Call {
    const httplib::Request& request;
    std::multimap<std::string, std::string> params;
    std::optional<QJsonObject> json;
    const Account* account = nullptr;
    // The parts of a multipart form, in the order sent.
    const std::vector<httplib::MultipartFormData>& parts;
    QString param(const std::string& name) const;
};

class WebServiceDouble {
public:
    // What a route needs before its handler runs.
    enum class Auth { None, Token, TokenHttp401 };
    using Handler = std::function<void(const Call& call, httplib::Response& response)>;

    // The MQTT password every client of the broker uses.
    static constexpr const char* kBrokerUser = "pubclient";
    static constexpr const char* kBrokerPassword = "4d2c9e17";

    WebServiceDouble();
    ~WebServiceDouble();
    WebServiceDouble(const WebServiceDouble&) = delete;
    WebServiceDouble& operator=(const WebServiceDouble&) = delete;

    // Serves HTTP on host:port (0 picks a free port); true once it accepts connections.
    bool start(int port = 0, const std::string& host = "127.0.0.1");
    // Serves HTTPS with the given PEM certificate chain and key.
    bool startTls(const std::string& certPath, const std::string& keyPath, int port = 0,
                  const std::string& host = "127.0.0.1");
    void stop();
    int port() const { return m_port; }
    // "https" after startTls, else "http".
    const char* scheme() const { return m_tls ? "https" : "http"; }
    // "http://127.0.0.1:PORT" (https for startTls), the value for the "apiBaseURL" setting.
    std::string baseURL() const;
    // Publishes to a broker from now on; false when it cannot reach it.
    bool connectBroker(const std::string& host, int port);

    // Every request received, oldest first.
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    void clearRequests();
    // Called for each request as it arrives (the standalone program prints it).
    void setRequestLogger(std::function<void(const RecordedRequest&)> logger);

    // A fault for every request to the path, or only to those of one method ("PUT"); one
    // for the method wins over one for the whole path.
    void setFault(const std::string& path, Fault fault, const std::string& method = {});
    void clearFaults();

    // Accounts. addAccount gives the new account's user id (an existing e-mail keeps its id).
    qint64 addAccount(const QString& email, const QString& password);
    const Account* accountByEmail(const QString& email) const;
    // An account known only by the MD5 hex of its password (a registration); its user id.
    qint64 addAccountWithPasswordMd5(const QString& email, const QString& passwordMd5);
    // A new token for the account, valid for the given time (0: no expiry).
    QString issueToken(const QString& email, std::chrono::seconds validFor = std::chrono::seconds(0));
    void expireToken(const QString& token);
    // The account of a valid token.
    const Account* accountForToken(const QString& token) const;

    // The server's box key pair: the public key in Base64, and opening a sealed box.
    QString publicKeyBase64() const;
    std::optional<QByteArray> openSealed(const QByteArray& sealed) const;

    // MQTT: publishes {"protocol", "data"} to "user_id_<id>" (QoS 1) and remembers it.
    void publish(qint64 userId, const QString& protocol, const QJsonObject& data);
    std::vector<Published> published() const;

    // The one server clock (see above).
    qint64 nextTimestamp();
    // The server clock runs this far from the machine's (a service whose clock is ahead).
    void setClockOffset(std::chrono::seconds offset);

    // The one lock over all state; recursive, so a handler may call the accessors above.
    std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock(m_mutex); }

    AccountRoutes& accountRoutes() { return m_accountRoutes; }
    KeyRoutes& keyRoutes() { return m_keyRoutes; }
    ClipRoutes& clipRoutes() { return m_clipRoutes; }
    FavouriteRoutes& favouriteRoutes() { return m_favouriteRoutes; }
    FileRoutes& fileRoutes() { return m_fileRoutes; }
    PluginRoutes& pluginRoutes() { return m_pluginRoutes; }

    // For the groups: registers a route, and the usual answers.
    void route(const std::string& method, const std::string& path, Auth auth, Handler handler);
    static void answerJson(httplib::Response& response, const QJsonObject& object, int status = 200);
    // The account's key fingerprint for the "cipher" of a reply.
    QJsonObject cipherOf(const Account* account);

private:
    bool listen(std::unique_ptr<httplib::Server> server, int port, const std::string& host);
    void installRoutes();
    void dispatch(const std::string& method, const httplib::Request& request, const std::string& body,
                  const std::vector<httplib::MultipartFormData>& parts, httplib::Response& response);
    bool waitDelay(std::chrono::milliseconds delay);

    struct Route {
        Auth auth;
        Handler handler;
    };

    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    bool m_tls = false;

    std::map<std::pair<std::string, std::string>, Route> m_routes;
    std::vector<RecordedRequest> m_requests;
    std::function<void(const RecordedRequest&)> m_logger;
    std::map<std::pair<std::string, std::string>, Fault> m_faults;  // by (path, method or "")
    std::vector<std::shared_ptr<Gate>> m_gates;                      // every gate a request met

    std::map<QString, Account> m_accounts;  // by e-mail
    struct Token {
        QString email;
        qint64 expiresAt = 0;  // Unix seconds; 0 never
    };
    std::map<QString, Token> m_tokens;
    qint64 m_nextUserId = 10001;
    qint64 m_lastTimestamp = 0;
    qint64 m_clockOffset = 0;
    quint64 m_tokenCounter = 0;

    QByteArray m_publicKey;
    QByteArray m_secretKey;

    std::unique_ptr<MqttPublisher> m_publisher;
    std::vector<Published> m_published;

    std::mutex m_stopMutex;
    std::condition_variable m_stopCondition;
    bool m_stopping = false;

    AccountRoutes m_accountRoutes;
    KeyRoutes m_keyRoutes;
    ClipRoutes m_clipRoutes;
    FavouriteRoutes m_favouriteRoutes;
    FileRoutes m_fileRoutes;
    PluginRoutes m_pluginRoutes;
};

}  // namespace webdouble
