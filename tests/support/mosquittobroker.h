#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real mosquitto broker for one test: a free loopback port, a password file holding the
// one user "pubclient" with the app's fixed password, anonymous clients refused.
class MosquittoBroker {
public:
    MosquittoBroker() = default;
    // Stops the broker.
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // True once the broker accepts connections.
    bool start();
    // The password the broker expects of "pubclient" from the next start (the app's by default).
    void setPassword(const QString& password) { m_password = password; }
    void stop();
    // Starts the stopped broker again on the same port; true once it accepts connections.
    bool restart();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }
    // What the broker logged, for failure messages.
    QString log() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QString m_password;
};
