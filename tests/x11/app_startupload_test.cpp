#include "app/appdelegate.h"
#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "store/dbfetcher.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "support/appprocess.h"
#include "support/testenv.h"
#include "x11/typingwindow.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr int kRows = 100000;
constexpr int kCopies = 20;

QString copyText(int n)
{
    return QStringLiteral("copied at start, number %1").arg(n);
}

bool imageStored()
{
    qint64 n = 0;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        n = DBFetcher::longForQuery(db, QStringLiteral("select count(*) from History where type like 'image%'")).value_or(0);
    });
    return n > 0;
}

bool stored(const QString& text)
{
    HistoryModel clip;
    clip.setFile_hash(md5HexOfString(text));
    return clip.isExist();
}

// The whole start-up of the application in this process, on the test's X server, with a
// large history and a large picture on the clipboard; another program copies every 50 ms from
// the moment the status item can show, and the hotkey is pressed meanwhile.
class AppStartupUnderLoadX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        app = std::make_unique<AppInThisProcess>();
        field = showFocusedField(window);
        ASSERT_NE(field, nullptr);
    }
    void TearDown() override
    {
        if (copier.state() != QProcess::NotRunning) {
            copier.kill();
            copier.waitForFinished();
        }
        app.reset();
    }

    // A history of many rows, as years of use leave, written before the program opens it.
    static void fillHistory()
    {
        HistoryModel::inDatabase([](QSqlDatabase& db) {
            DBFetcher::executeUpdate(db, QStringLiteral("BEGIN"));
            for (int i = 0; i < kRows; ++i)
                DBFetcher::executeUpdate(
                    db,
                    QStringLiteral("insert into History (content, timeStamp, deviceName, file_hash, type, "
                                   "category) values (?, ?, 'test', ?, 'text_txt+enc', 'history')"),
                    {QStringLiteral("an old clip, number %1").arg(i), QVariant(qint64(1600000000) + i),
                     QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0'))});
            DBFetcher::executeUpdate(db, QStringLiteral("COMMIT"));
        });
        DBFetcher::resetSharedInstance();
    }

    QWidget window;
    QLineEdit* field = nullptr;
    QProcess copier;
    std::unique_ptr<AppInThisProcess> app;
};

}  // namespace

TEST_F(AppStartupUnderLoadX11, TheHotkeyMenuShowsWhileALargePictureIsCapturedAndEveryCopyIsStored)
{
    // Known to fail: the watcher reads the clipboard's picture on the main thread (seconds for
    // a 5000 x 5000 one under the sanitizers), so the menu waits for it and a copy replaced on
    // the clipboard meanwhile is never seen. Kept here, skipped, until that read moves off it.
    GTEST_SKIP() << "the clipboard's picture is still read on the main thread";
    fillHistory();
    // A picture whose capture takes a while: decoding, TIFF, digest and zip.
    QImage picture(5000, 5000, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x / 16 + y / 16) % 256));
    const QString picturePath = testenv::home() + QStringLiteral("/large.png");
    ASSERT_TRUE(picture.save(picturePath));
    ASSERT_TRUE(runClient(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                    QStringLiteral("-t"), QStringLiteral("image/png"),
                                                    QStringLiteral("-i"), picturePath})
                    .finished);

    // Copies every 50 ms from the moment the status item can show, while the picture's capture,
    // the whole-file check, the sweep and the compaction may still run.
    QString script;
    for (int n = 1; n <= kCopies; ++n)
        script += QStringLiteral("printf '%1' | xclip -selection clipboard; sleep 0.05; ").arg(copyText(n));

    AppDelegate::Services services = AppDelegate::Services::system();
    // As the first use of the watcher in a new process: its first poll runs at once.
    services.makeClipController = [] { ClipController::sharedInstance().startClipObserver(); };
    app->launch(services);
    copier.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});

    // The hotkey answers meanwhile: start-up waits for none of it on the main thread. How soon
    // is the bench's to measure; here the menu must show at all.
    QMenu* menu = MenuController::sharedInstance().mainMenu();
    const ClientRun pressed = runClient(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("shift+super+v")});
    ASSERT_TRUE(pressed.finished && pressed.exitCode == 0);
    ASSERT_TRUE(testenv::waitUntil([&] { return menu->isVisible(); }, 60s));
    EXPECT_FALSE(imageStored()) << "the menu showed only after the picture's capture";
    runClient(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(testenv::waitUntil([&] { return !menu->isVisible(); }));
    ASSERT_TRUE(testenv::waitUntil([&] { return copier.state() == QProcess::NotRunning; }, 60s));
    EXPECT_EQ(copier.exitCode(), 0);

    // Every copy is stored, behind the picture's capture, and the picture too.
    EXPECT_TRUE(testenv::waitUntil([] { return stored(copyText(kCopies)); }, 240s));
    ClipController::sharedInstance().waitForCaptures();
    QStringList missing;
    for (int n = 1; n <= kCopies; ++n)
        if (!stored(copyText(n)))
            missing << QString::number(n);
    EXPECT_TRUE(missing.isEmpty()) << "copies never stored: " << missing.join(' ').toStdString();
    EXPECT_TRUE(imageStored());
}
