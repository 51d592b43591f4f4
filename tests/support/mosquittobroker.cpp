#include "support/mosquittobroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr const char* kUser = "pubclient";
constexpr const char* kPassword = "4d2c9e17";

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool accepts(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(200);
}

}  // namespace

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    stop();
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return false;
    const QString passwords = m_dir->filePath(QStringLiteral("passwd"));
    QFile(passwords).open(QIODevice::WriteOnly);
    if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                          {QStringLiteral("-b"), passwords, QString::fromLatin1(kUser),
                           m_password.isEmpty() ? QString::fromLatin1(kPassword) : m_password})
        != 0)
        return false;
    QFile::setPermissions(passwords, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (m_port == 0)
            return false;
        const QString config = m_dir->filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        // Run as whoever runs the tests: as root, mosquitto would otherwise switch to its own
        // user and could not read the password file.
        const passwd* me = getpwuid(getuid());
        // No cap on queued messages: a test's flood must not push out the message it waits for.
        file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\n"
                                  "persistence false\nuser %3\nmax_queued_messages 0\n")
                       .arg(m_port)
                       .arg(passwords, QString::fromLocal8Bit(me ? me->pw_name : "root"))
                       .toUtf8());
        file.close();

        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
        if (!m_process->waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
            if (accepts(m_port))
                return true;
            QThread::msleep(10);
        }
        // Another process may have taken the port in between: try another one.
        stop();
    }
    return false;
}

void MosquittoBroker::stop()
{
    if (m_process) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
        m_process.reset();
    }
}

bool MosquittoBroker::restart()
{
    if (!m_dir || m_port == 0)
        return false;
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), m_dir->filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        if (accepts(m_port))
            return true;
        QThread::msleep(10);
    }
    return false;
}

QString MosquittoBroker::log() const
{
    return m_process ? QString::fromLocal8Bit(m_process->readAll()) : QString();
}
