#pragma once

#include <QMutex>

#include <memory>

// The process-wide implementation of a platform interface: the real one, made on first
// use, or a fake that a test puts in its place. Replacing it while another thread still
// uses the old one is for tests only.
template <class Interface>
class CurrentImplementation {
public:
    using Factory = std::shared_ptr<Interface> (*)();

    explicit CurrentImplementation(Factory makeReal)
        : m_makeReal(makeReal)
    {
    }

    Interface& get()
    {
        QMutexLocker lock(&m_mutex);
        if (!m_current)
            m_current = m_makeReal();
        return *m_current;
    }

    // nullptr goes back to the real implementation on next use.
    void set(std::shared_ptr<Interface> implementation)
    {
        QMutexLocker lock(&m_mutex);
        m_current = std::move(implementation);
    }

private:
    QMutex m_mutex;
    Factory m_makeReal;
    std::shared_ptr<Interface> m_current;
};
