#include "platform/linux/instancelockfile.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <spdlog/spdlog.h>

InstanceLockFile::InstanceLockFile(const QString& folder)
    : m_path(QDir(folder).filePath(QString::fromLatin1(FileName)))
    , m_socketPath(QDir(folder).filePath(QString::fromLatin1(SocketName)))
    , m_lock(std::make_unique<QLockFile>(m_path))
{
    // Only a dead owner makes the lock stale, never its age: Qt's 30-second default is meant for
    // short locks, and where the file system has no native locks it would hand over the lock of
    // an instance that has simply been running for a while.
    m_lock->setStaleLockTime(0);
}

InstanceLockFile::~InstanceLockFile()
{
    if (m_server)
        m_server->close();
}

InstanceLock::Result InstanceLockFile::tryLock()
{
    if (m_lock->isLocked())
        return Result::Acquired;
    m_error.clear();
    m_ownerPid = 0;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("无法创建文件夹 %1，Nuvarel 无法启动。").arg(folder);
        spdlog::error("instance lock: cannot create {}", folder.toStdString());
        return Result::Failed;
    }
    if (m_lock->tryLock(0))
        return Result::Acquired;
    if (m_lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString app;
        m_lock->getLockInfo(&pid, &host, &app);
        m_ownerPid = pid;
        m_error = pid > 0 ? QStringLiteral("Nuvarel 已经在运行（进程 %1），不能再打开一个。").arg(pid)
                          : QStringLiteral("Nuvarel 已经在运行，不能再打开一个。");
        spdlog::warn("instance lock: {} is held by process {}", m_path.toStdString(), pid);
        return Result::AlreadyRunning;
    }
    m_error = QStringLiteral("无法写入锁文件 %1，Nuvarel 无法启动。").arg(m_path);
    spdlog::error("instance lock: cannot write {} (error {})", m_path.toStdString(), static_cast<int>(m_lock->error()));
    return Result::Failed;
}

void InstanceLockFile::unlock()
{
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
    m_lock->unlock();
}

namespace {
constexpr char kComeForward[] = "show\n";
constexpr char kCameForward[] = "ok\n";
constexpr int kAnswerWaitMs = 2000;
}  // namespace

bool InstanceLockFile::listen(std::function<void()> onSecondStart)
{
    if (!m_lock->isLocked())
        return false;
    m_onSecondStart = std::move(onSecondStart);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever listened there before held the lock and is gone: its socket file is stale.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        spdlog::warn("instance lock: a second start cannot reach this one ({})", m_server->errorString().toStdString());
        m_server.reset();
        return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == QByteArray(kComeForward)) {
                    spdlog::info("instance lock: a second start asked this instance to come forward");
                    if (m_onSecondStart)
                        m_onSecondStart();
                    socket->write(kCameForward);
                    socket->flush();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool InstanceLockFile::askOwnerToComeForward()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kAnswerWaitMs))
        return false;
    socket.write(kComeForward);
    if (!socket.waitForBytesWritten(kAnswerWaitMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerWaitMs))
            return false;
    }
    return socket.readLine() == QByteArray(kCameForward);
}

bool InstanceLockFile::isLocked() const
{
    return m_lock->isLocked();
}

QString InstanceLockFile::errorMessage() const
{
    return m_error;
}
