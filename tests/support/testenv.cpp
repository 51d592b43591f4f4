#include "support/testenv.h"

#include "platform/deviceinfo.h"
#include "platform/userdefaults.h"
#include "store/deviceidentity.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_home;

class TestHomeListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/nuvarel-test-XXXXXX"));
        qputenv("HOME", g_home->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (g_home->path() + QStringLiteral("/.config")).toUtf8());
        UserDefaults::useFile(testenv::settingsFile());
        DeviceInfo::setCurrent(nullptr);
        resetDeviceIdentityCache();
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        UserDefaults::useFile(testenv::settingsFile());
        g_home.reset();
    }
};

}  // namespace

namespace testenv {

QString home()
{
    return g_home ? g_home->path() : QString();
}

QString settingsFile()
{
    return home() + QStringLiteral("/settings.ini");
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void spin(std::chrono::milliseconds duration)
{
    QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

}  // namespace testenv

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestHomeListener);
    return RUN_ALL_TESTS();
}
