// The web service test double on its own: serves a port, publishes to a broker, and prints
// each request it receives as one JSON line (method, path, query, body).
//
//   nuvarel-test-server --port P [--broker HOST:PORT] [--account EMAIL:PASSWORD ...]

#include "support/webservice/webservicedouble.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
}

int usage()
{
    std::cerr << "usage: nuvarel-test-server --port P [--broker HOST:PORT] [--account EMAIL:PASSWORD ...]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int port = -1;
    std::string brokerHost;
    int brokerPort = 0;
    std::vector<std::pair<QString, QString>> accounts;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--broker" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos)
                return usage();
            brokerHost = value.substr(0, colon);
            brokerPort = std::atoi(value.c_str() + colon + 1);
        } else if (arg == "--account" && hasValue) {
            const QString value = QString::fromLocal8Bit(argv[++i]);
            const qsizetype colon = value.indexOf(QLatin1Char(':'));
            if (colon <= 0)
                return usage();
            accounts.emplace_back(value.left(colon), value.mid(colon + 1));
        } else {
            return usage();
        }
    }
    if (port < 0 || port > 65535)
        return usage();

    webdouble::WebServiceDouble server;
    for (const auto& account : accounts)
        server.addAccount(account.first, account.second);
    server.setRequestLogger([](const webdouble::RecordedRequest& request) {
        const QJsonObject line{{QStringLiteral("method"), QString::fromStdString(request.method)},
                               {QStringLiteral("path"), QString::fromStdString(request.path)},
                               {QStringLiteral("query"), QString::fromStdString(request.query)},
                               {QStringLiteral("body"), QString::fromUtf8(request.body.data(),
                                                                          static_cast<qsizetype>(request.body.size()))}};
        const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        std::fflush(stdout);
    });
    if (!brokerHost.empty() && !server.connectBroker(brokerHost, brokerPort)) {
        std::cerr << "cannot reach the broker at " << brokerHost << ":" << brokerPort << "\n";
        return 1;
    }
    if (!server.start(port)) {
        std::cerr << "cannot listen on port " << port << "\n";
        return 1;
    }
    std::cerr << "listening on " << server.baseURL() << "\n";

    if (pipe(g_signalPipe) != 0)
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    const int result = app.exec();
    server.stop();
    return result;
}
