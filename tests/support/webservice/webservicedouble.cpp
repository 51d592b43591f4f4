#include "support/webservice/webservicedouble.h"

#include "support/webservice/mqttpublisher.h"

#include <httplib.h>
#include <sodium.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <set>

namespace webdouble {

QString Call::param(const std::string& name) const
{
    const auto it = params.find(name);
    return it == params.end() ? QString() : QString::fromStdString(it->second);
}

namespace {

// Form decoding of a raw query: "+" is a space, %XX a byte.
std::multimap<std::string, std::string> decodeQuery(const std::string& query)
{
    std::multimap<std::string, std::string> out;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            auto decode = [](std::string text) {
                for (char& c : text)
                    if (c == '+')
                        c = ' ';
                return QByteArray::fromPercentEncoding(QByteArray::fromStdString(text)).toStdString();
            };
            if (eq == std::string::npos)
                out.emplace(decode(pair), std::string());
            else
                out.emplace(decode(pair.substr(0, eq)), decode(pair.substr(eq + 1)));
        }
        start = end + 1;
    }
    return out;
}

}  // namespace

WebServiceDouble::WebServiceDouble()
{
    if (sodium_init() < 0)
        abort();
    m_publicKey.resize(crypto_box_PUBLICKEYBYTES);
    m_secretKey.resize(crypto_box_SECRETKEYBYTES);
    crypto_box_keypair(reinterpret_cast<unsigned char*>(m_publicKey.data()),
                       reinterpret_cast<unsigned char*>(m_secretKey.data()));
    m_accountRoutes.install(*this);
    m_keyRoutes.install(*this);
    m_clipRoutes.install(*this);
    m_favouriteRoutes.install(*this);
    m_fileRoutes.install(*this);
    m_pluginRoutes.install(*this);
}

WebServiceDouble::~WebServiceDouble()
{
    stop();
}

bool WebServiceDouble::start(int port, const std::string& host)
{
    m_tls = false;
    return listen(std::make_unique<httplib::Server>(), port, host);
}

bool WebServiceDouble::startTls(const std::string& certPath, const std::string& keyPath, int port,
                                const std::string& host)
{
    auto server = std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str());
    if (!server->is_valid())
        return false;
    m_tls = true;
    return listen(std::move(server), port, host);
}

bool WebServiceDouble::listen(std::unique_ptr<httplib::Server> server, int port, const std::string& host)
{
    stop();
    {
        std::lock_guard stopLock(m_stopMutex);
        m_stopping = false;
    }
    m_server = std::move(server);
    // One request per connection: stop() need not wait for idle keep-alive connections.
    m_server->set_keep_alive_max_count(1);
    // Headers and body go out as two writes: without this each reply waits for the client's
    // delayed acknowledgement (about 40 ms).
    m_server->set_tcp_nodelay(true);
    installRoutes();
    if (port == 0) {
        m_port = m_server->bind_to_any_port(host);
        if (m_port <= 0)
            return false;
    } else {
        if (!m_server->bind_to_port(host, port))
            return false;
        m_port = port;
    }
    httplib::Server* raw = m_server.get();
    m_thread = std::thread([raw] { raw->listen_after_bind(); });
    // The socket already queues connections; stop() needs the accept loop to be running.
    while (!raw->is_running())
        std::this_thread::yield();
    return true;
}

void WebServiceDouble::stop()
{
    {
        std::lock_guard stopLock(m_stopMutex);
        m_stopping = true;
    }
    m_stopCondition.notify_all();
    {
        // Held requests end with the server.
        auto guard = lock();
        for (auto& [key, fault] : m_faults)
            if (fault.gate)
                fault.gate->open();
        for (auto& gate : m_gates)
            gate->open();
    }
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
}

std::string WebServiceDouble::baseURL() const
{
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

bool WebServiceDouble::connectBroker(const std::string& host, int port)
{
    auto publisher = std::make_unique<MqttPublisher>();
    if (!publisher->connect(host, port, kBrokerUser, kBrokerPassword))
        return false;
    auto guard = lock();
    m_publisher = std::move(publisher);
    return true;
}

std::vector<RecordedRequest> WebServiceDouble::requests() const
{
    auto guard = lock();
    return m_requests;
}

std::vector<RecordedRequest> WebServiceDouble::requestsTo(const std::string& path) const
{
    auto guard = lock();
    std::vector<RecordedRequest> out;
    for (const auto& request : m_requests)
        if (request.path == path)
            out.push_back(request);
    return out;
}

void WebServiceDouble::clearRequests()
{
    auto guard = lock();
    m_requests.clear();
}

void WebServiceDouble::setRequestLogger(std::function<void(const RecordedRequest&)> logger)
{
    auto guard = lock();
    m_logger = std::move(logger);
}

void WebServiceDouble::setFault(const std::string& path, Fault fault, const std::string& method)
{
    auto guard = lock();
    m_faults[{path, method}] = std::move(fault);
}

void WebServiceDouble::clearFaults()
{
    auto guard = lock();
    m_faults.clear();
}

qint64 WebServiceDouble::addAccount(const QString& email, const QString& password)
{
    auto guard = lock();
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
    auto it = m_accounts.find(email);
    if (it != m_accounts.end()) {
        it->second.passwordMd5 = md5;
        return it->second.userId;
    }
    Account account{email, md5, m_nextUserId++};
    m_accounts.emplace(email, account);
    return account.userId;
}

qint64 WebServiceDouble::addAccountWithPasswordMd5(const QString& email, const QString& passwordMd5)
{
    auto guard = lock();
    const qint64 userId = addAccount(email, QString());
    m_accounts[email].passwordMd5 = passwordMd5;
    return userId;
}

const Account* WebServiceDouble::accountByEmail(const QString& email) const
{
    auto guard = lock();
    const auto it = m_accounts.find(email);
    return it == m_accounts.end() ? nullptr : &it->second;
}

QString WebServiceDouble::issueToken(const QString& email, std::chrono::seconds validFor)
{
    auto guard = lock();
    QByteArray random(16, '\0');
    randombytes_buf(random.data(), static_cast<size_t>(random.size()));
    const QString token = QString::fromLatin1(random.toHex()) + QString::number(++m_tokenCounter);
    const qint64 expiresAt = validFor.count() > 0 ? QDateTime::currentSecsSinceEpoch() + validFor.count() : 0;
    m_tokens[token] = Token{email, expiresAt};
    return token;
}

void WebServiceDouble::expireToken(const QString& token)
{
    auto guard = lock();
    const auto it = m_tokens.find(token);
    if (it != m_tokens.end())
        it->second.expiresAt = 1;
}

const Account* WebServiceDouble::accountForToken(const QString& token) const
{
    auto guard = lock();
    const auto it = m_tokens.find(token);
    if (it == m_tokens.end())
        return nullptr;
    if (it->second.expiresAt != 0 && it->second.expiresAt <= QDateTime::currentSecsSinceEpoch())
        return nullptr;
    return accountByEmail(it->second.email);
}

QString WebServiceDouble::publicKeyBase64() const
{
    return QString::fromLatin1(m_publicKey.toBase64());
}

std::optional<QByteArray> WebServiceDouble::openSealed(const QByteArray& sealed) const
{
    if (sealed.size() < static_cast<qsizetype>(crypto_box_SEALBYTES))
        return std::nullopt;
    QByteArray plain(sealed.size() - static_cast<qsizetype>(crypto_box_SEALBYTES), '\0');
    if (crypto_box_seal_open(reinterpret_cast<unsigned char*>(plain.data()),
                             reinterpret_cast<const unsigned char*>(sealed.constData()),
                             static_cast<unsigned long long>(sealed.size()),
                             reinterpret_cast<const unsigned char*>(m_publicKey.constData()),
                             reinterpret_cast<const unsigned char*>(m_secretKey.constData()))
        != 0)
        return std::nullopt;
    return plain;
}

void WebServiceDouble::publish(qint64 userId, const QString& protocol, const QJsonObject& data)
{
    auto guard = lock();
    QJsonObject message;
    message.insert(QStringLiteral("protocol"), protocol);
    message.insert(QStringLiteral("data"), data);
    Published entry{"user_id_" + std::to_string(userId),
                    QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString()};
    if (m_publisher)
        m_publisher->publish(entry.topic, entry.payload);
    m_published.push_back(std::move(entry));
}

std::vector<Published> WebServiceDouble::published() const
{
    auto guard = lock();
    return m_published;
}

qint64 WebServiceDouble::nextTimestamp()
{
    auto guard = lock();
    m_lastTimestamp = std::max(m_lastTimestamp + 1, QDateTime::currentSecsSinceEpoch() + m_clockOffset);
    return m_lastTimestamp;
}

void WebServiceDouble::setClockOffset(std::chrono::seconds offset)
{
    auto guard = lock();
    m_clockOffset = offset.count();
}

void WebServiceDouble::route(const std::string& method, const std::string& path, Auth auth, Handler handler)
{
    m_routes[{method, path}] = Route{auth, std::move(handler)};
}

void WebServiceDouble::answerJson(httplib::Response& response, const QJsonObject& object, int status)
{
    response.status = status;
    response.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

QJsonObject WebServiceDouble::cipherOf(const Account* account)
{
    if (!account)
        return {};
    return m_keyRoutes.fingerprint(account->userId);
}

void WebServiceDouble::installRoutes()
{
    std::set<std::string> paths;
    for (const auto& entry : m_routes)
        paths.insert(entry.first.second);
    for (const std::string& path : paths) {
        m_server->Get(path, [this](const httplib::Request& request, httplib::Response& response) {
            dispatch("GET", request, request.body, {}, response);
        });
        m_server->Delete(path, [this](const httplib::Request& request, httplib::Response& response) {
            dispatch("DELETE", request, request.body, {}, response);
        });
        // Bodies are read here so that form parts keep the order they were sent in.
        auto withBody = [this](const std::string& verb) {
            return [this, verb](const httplib::Request& request, httplib::Response& response,
                                const httplib::ContentReader& reader) {
                std::string body;
                std::vector<httplib::MultipartFormData> parts;
                if (request.is_multipart_form_data()) {
                    reader(
                        [&parts](const httplib::MultipartFormData& header) {
                            parts.push_back(header);
                            return true;
                        },
                        [&parts](const char* data, size_t length) {
                            parts.back().content.append(data, length);
                            return true;
                        });
                } else {
                    reader([&body](const char* data, size_t length) {
                        body.append(data, length);
                        return true;
                    });
                }
                dispatch(verb, request, body, parts, response);
            };
        };
        m_server->Post(path, withBody("POST"));
        m_server->Put(path, withBody("PUT"));
    }
}

void Gate::open()
{
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
    }
    m_condition.notify_all();
}

void Gate::pass()
{
    std::unique_lock lock(m_mutex);
    ++m_arrived;
    m_condition.notify_all();
    m_condition.wait(lock, [this] { return m_open; });
}

int Gate::arrived() const
{
    std::lock_guard lock(m_mutex);
    return m_arrived;
}

bool WebServiceDouble::waitDelay(std::chrono::milliseconds delay)
{
    std::unique_lock stopLock(m_stopMutex);
    return !m_stopCondition.wait_for(stopLock, delay, [this] { return m_stopping; });
}

void WebServiceDouble::dispatch(const std::string& method, const httplib::Request& request, const std::string& body,
                                const std::vector<httplib::MultipartFormData>& parts, httplib::Response& response)
{
    const size_t mark = request.target.find('?');
    RecordedRequest record{method, request.path,
                           mark == std::string::npos ? std::string() : request.target.substr(mark + 1), body,
                           request.get_header_value("Content-Type")};
    if (request.is_multipart_form_data()) {
        // A form is recorded as its part names and sizes, in the order sent.
        for (const auto& part : parts)
            record.body += part.name + "=" + std::to_string(part.content.size()) + ";";
    }
    Fault fault;
    std::function<void(const RecordedRequest&)> logger;
    {
        auto guard = lock();
        m_requests.push_back(record);
        logger = m_logger;
        auto it = m_faults.find({request.path, method});
        if (it == m_faults.end())
            it = m_faults.find({request.path, std::string()});
        if (it != m_faults.end()) {
            fault = it->second;
            if (fault.gate)
                m_gates.push_back(fault.gate);
            if (it->second.times > 0 && --it->second.times == 0)
                m_faults.erase(it);
        }
    }
    if (logger)
        logger(record);
    if (fault.delay.count() > 0 && !waitDelay(fault.delay))
        return;
    if (fault.gate) {
        fault.gate->pass();
        std::unique_lock stopLock(m_stopMutex);
        if (m_stopping)
            return;
    }
    for (const auto& [name, value] : fault.headers)
        response.set_header(name, value);
    if (fault.trickle.count() > 0) {
        response.status = fault.httpStatus.value_or(200);
        const auto interval = fault.trickle;
        response.set_chunked_content_provider("application/octet-stream",
                                              [this, interval](size_t, httplib::DataSink& sink) {
                                                  return waitDelay(interval) && sink.write("x", 1);
                                              });
        return;
    }
    if (fault.body) {
        response.status = fault.httpStatus.value_or(200);
        if (fault.chunked) {
            auto body = std::make_shared<std::string>(std::move(*fault.body));
            response.set_chunked_content_provider(fault.contentType, [body](size_t offset, httplib::DataSink& sink) {
                if (offset >= body->size()) {
                    sink.done();
                    return true;
                }
                return sink.write(body->data() + offset, std::min<size_t>(64 * 1024, body->size() - offset));
            });
        } else {
            response.set_content(*fault.body, fault.contentType);
        }
        return;
    }

    auto guard = lock();
    const auto found = m_routes.find({method, request.path});
    if (found == m_routes.end()) {
        response.status = 405;
        return;
    }
    Call call{request, decodeQuery(record.query), std::nullopt, nullptr, parts};
    if (!body.empty()) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body));
        if (document.isObject())
            call.json = document.object();
    }
    const Route& route = found->second;
    if (route.auth != Auth::None) {
        call.account = accountForToken(call.param("user_token"));
        if (!call.account) {
            if (route.auth == Auth::TokenHttp401) {
                response.status = 401;
                response.set_content("{\"code\":401,\"msg\":\"login expired\"}", "application/json");
            } else {
                answerJson(response, {{QStringLiteral("code"), 403},
                                      {QStringLiteral("token_expire"), 1},
                                      {QStringLiteral("msg"), QStringLiteral("login expired")}});
            }
            return;
        }
    }
    route.handler(call, response);
    if (fault.code) {
        QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(response.body));
        if (document.isObject()) {
            QJsonObject object = document.object();
            object.insert(QStringLiteral("code"), *fault.code);
            response.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                                 "application/json");
        }
    }
    if (fault.httpStatus)
        response.status = *fault.httpStatus;
}

}  // namespace webdouble
