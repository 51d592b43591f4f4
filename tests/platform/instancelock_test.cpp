#include "platform/fake/instancelockfake.h"
#include "platform/linux/instancelockfile.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using Result = InstanceLock::Result;

namespace {

QString appFolder()
{
    return testenv::home() + QStringLiteral("/Library/Nuvarel");
}

// Another process holding the lock: a forked copy of this test that takes the lock and waits to
// be killed, so it never runs on into the rest of the test.
class LockHolder {
public:
    explicit LockHolder(const QString& folder)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            InstanceLockFile lock(folder);
            const char result = lock.tryLock() == Result::Acquired ? 'y' : 'n';
            if (write(fds[1], &result, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        }
        close(fds[1]);
        char result = 0;
        if (m_pid > 0 && read(fds[0], &result, 1) == 1)
            m_locked = result == 'y';
        close(fds[0]);
    }
    ~LockHolder() { kill(); }

    pid_t pid() const { return m_pid; }
    bool locked() const { return m_locked; }
    // Dies without letting go of the lock, as on a crash.
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

private:
    pid_t m_pid = -1;
    bool m_locked = false;
};

}  // namespace

TEST(InstanceLockFile, TheFirstStartTakesTheLockInTheApplicationFolder)
{
    ASSERT_FALSE(QFileInfo::exists(appFolder()));
    InstanceLockFile lock(appFolder());
    EXPECT_EQ(lock.lockFilePath(), appFolder() + QStringLiteral("/nuvarel.lock"));
    ASSERT_EQ(lock.tryLock(), Result::Acquired);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_TRUE(QFileInfo::exists(lock.lockFilePath()));
    EXPECT_TRUE(lock.errorMessage().isEmpty());
    EXPECT_EQ(lock.tryLock(), Result::Acquired);
    lock.unlock();
    EXPECT_FALSE(QFileInfo::exists(lock.lockFilePath()));
}

TEST(InstanceLockFile, ASecondHolderIsRefusedUntilTheFirstLetsGo)
{
    InstanceLockFile first(appFolder());
    ASSERT_EQ(first.tryLock(), Result::Acquired);
    InstanceLockFile second(appFolder());
    EXPECT_EQ(second.tryLock(), Result::AlreadyRunning);
    EXPECT_FALSE(second.isLocked());
    EXPECT_EQ(second.ownerPid(), QCoreApplication::applicationPid());
    EXPECT_TRUE(second.errorMessage().contains(QString::number(QCoreApplication::applicationPid())))
        << second.errorMessage().toStdString();
    first.unlock();
    EXPECT_EQ(second.tryLock(), Result::Acquired);
    EXPECT_TRUE(second.errorMessage().isEmpty());
}

TEST(InstanceLockFile, ARunningProcessKeepsItsLockHoweverOldAndADeadOneLosesIt)
{
    LockHolder holder(appFolder());
    ASSERT_TRUE(holder.locked());
    InstanceLockFile lock(appFolder());
    EXPECT_EQ(lock.tryLock(), Result::AlreadyRunning);
    EXPECT_EQ(lock.ownerPid(), holder.pid());

    // An instance that has run for a day still owns its lock.
    QFile file(lock.lockFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(lock.tryLock(), Result::AlreadyRunning);

    // Killed, it leaves the file behind; the next start takes it over.
    holder.kill();
    ASSERT_TRUE(QFileInfo::exists(lock.lockFilePath()));
    EXPECT_EQ(lock.tryLock(), Result::Acquired);
    EXPECT_EQ(lock.ownerPid(), 0);
}

TEST(InstanceLockFile, AFolderThatCannotBeMadeIsAFailureWithAMessage)
{
    // A plain file where the folder should be (root ignores permission bits, so not chmod).
    QFile blocker(testenv::home() + QStringLiteral("/Library"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    InstanceLockFile lock(appFolder());
    EXPECT_EQ(lock.tryLock(), Result::Failed);
    EXPECT_FALSE(lock.isLocked());
    EXPECT_FALSE(lock.errorMessage().isEmpty());
}

TEST(InstanceLockFake, PlaysEachOutcome)
{
    InstanceLockFake free;
    EXPECT_EQ(free.tryLock(), Result::Acquired);
    EXPECT_TRUE(free.isLocked());

    InstanceLockFake running;
    running.heldByOther = true;
    EXPECT_EQ(running.tryLock(), Result::AlreadyRunning);
    EXPECT_FALSE(running.isLocked());
    EXPECT_FALSE(running.errorMessage().isEmpty());

    InstanceLockFake broken;
    broken.fails = true;
    EXPECT_EQ(broken.tryLock(), Result::Failed);
    EXPECT_FALSE(broken.errorMessage().isEmpty());
}
