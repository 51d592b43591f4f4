#include "platform/fake/instancelockfake.h"

InstanceLock::Result InstanceLockFake::tryLock()
{
    ++attempts;
    if (m_locked)
        return Result::Acquired;
    m_error.clear();
    if (fails) {
        m_error = QStringLiteral("无法写入锁文件，Nuvarel 无法启动。");
        return Result::Failed;
    }
    if (heldByOther) {
        m_error = QStringLiteral("Nuvarel 已经在运行，不能再打开一个。");
        return Result::AlreadyRunning;
    }
    m_locked = true;
    return Result::Acquired;
}
