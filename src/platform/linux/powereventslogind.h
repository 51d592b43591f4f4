#pragma once

#include "platform/powerevents.h"

#include <QString>

// Sleep and wake from systemd-logind: its PrepareForSleep signal on the system bus says true
// before the machine sleeps and false once it has woken. Only signals sent by the owner of
// "org.freedesktop.login1" count. Without a system bus (a container, a desktop without logind)
// nothing arrives and nothing fails.
class PowerEventsLogind : public PowerEvents {
    Q_OBJECT
public:
    // An empty address means the system bus; tests pass a private bus.
    explicit PowerEventsLogind(const QString& busAddress = QString(), QObject* parent = nullptr);
    ~PowerEventsLogind() override;

    // True when connected to the bus and subscribed to the signal.
    bool isListening() const { return m_listening; }

private slots:
    void prepareForSleep(bool start);

private:
    QString m_connectionName;
    bool m_listening = false;
};
