#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <memory>

namespace syncdevice {

// Drives one nuvarel-sync-device process (built beside the test programs) in a temporary home
// of its own: sends a command line, waits for its "@@ " answer.
class DeviceDriver {
public:
    // How the device wraps its key with a PIN: cheaply, when every device of the test is a
    // sync device; with the app's own limits, when its key must open with the app's PIN.
    enum class WrapLimits { Cheap, App };
    // Without a device token the device makes its own, as a new installation does.
    DeviceDriver(const std::string& apiBaseURL, int mqttPort, const QString& deviceToken = QString(),
                 WrapLimits limits = WrapLimits::Cheap)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList args;
        if (limits == WrapLimits::Cheap)
            args << QStringLiteral("--cheap-wrap-limits");
        args << QString::fromStdString(apiBaseURL) << QString::number(mqttPort);
        if (!deviceToken.isEmpty())
            args << deviceToken;
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel-sync-device"), args);
        m_started = m_process.waitForStarted(10000) && answer(std::chrono::seconds(20)) == QStringLiteral("ready");
    }
    ~DeviceDriver()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }
    DeviceDriver(const DeviceDriver&) = delete;
    DeviceDriver& operator=(const DeviceDriver&) = delete;

    bool started() const { return m_started; }
    // The device's home, where a test can put files for it to copy.
    QString home() const { return m_home.path(); }
    void send(const QString& command)
    {
        m_process.write(command.toUtf8() + '\n');
        m_process.waitForBytesWritten(1000);
    }
    // The next answer (without "@@ "), or "timeout".
    QString answer(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        QDeadlineTimer deadline(timeout);
        for (;;) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                m_output += QString::fromUtf8(line) + QLatin1Char('\n');
                if (line.startsWith("@@ "))
                    return QString::fromUtf8(line.mid(3));
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return QStringLiteral("timeout");
            // Other parts of the test (the in-process double and broker) need the event loop too.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_process.waitForReadyRead(5);
        }
    }
    QString call(const QString& command, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        send(command);
        return answer(timeout);
    }
    // Everything the device printed so far, with its log, for failure messages.
    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardError());
        return m_output;
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
    bool m_started = false;
    QString m_output;
};

}  // namespace syncdevice
