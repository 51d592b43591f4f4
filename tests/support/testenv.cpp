#include "support/testenv.h"
#include "support/xserver/privatexserver.h"

#include "platform/deviceinfo.h"
#include "platform/fake/keychainfake.h"
#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"
#include "store/deviceidentity.h"
#include "sync/serviceoutage.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>


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
        // No test reaches the desktop's keychain unless it asks for it; no key carries over.
        Keychain::setCurrent(std::make_shared<KeychainFake>());
        ZeroManager::resetSharedInstanceIfMadeForTesting();
        // Argon2id at the product's limits costs every PIN step a fair part of a second; the
        // tests that are about that cost switch it back on.
        ZeroManager::useCheapWrapLimitsForTesting();
        // No outage of an earlier test's service is still being told.
        ServiceOutage::sharedInstance().resetForTesting();
        // The account state is read again from this test's own settings store.
        ConfigureManager::resetSharedInstanceIfMadeForTests();
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

}  // namespace testenv

extern "C" const char* __asan_default_options()
{
    return "detect_leaks=1";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks inside system libraries we do not own (caches kept for the life of the process).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libgobject\nleak:libQt6Gui\n"
           "leak:libQt6DBus\nleak:libQt6Core\nleak:libxcb\nleak:libX11\nleak:libcrypto\nleak:libssl\n";
}

int main(int argc, char** argv)
{
    // The X11 suite (test_x11) gets a private X server; listing the tests needs none.
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0;
    const std::string program = argv[0];
    const bool x11Suite = program.size() >= 8 && program.compare(program.size() - 8, 8, "test_x11") == 0;
    if (x11Suite && !listing) {
        if (!startPrivateXServer()) {
            fprintf(stderr, "could not start Xvfb\n");
            return 1;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || listing)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestHomeListener);
    return RUN_ALL_TESTS();
}
