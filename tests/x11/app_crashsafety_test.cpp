// The program as the user runs it, killed without warning (kill -9) again and again while it
// captures: every clip whose row was committed before a kill is there after the next start,
// with its body. At each start, before capture begins, bodies that no row names are removed.

#include "store/digest.h"
#include "store/historytestsupport.h"
#include "support/appprocess.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class AppCrashSafety : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")); }
    static QString library(const QString& name = QString()) { return AppProcess::library(name); }
    static QString log() { return AppProcess::log(); }
    // Starts the program and waits until its launch has finished.
    void start() { ASSERT_TRUE(app.start()) << app.failure().toStdString(); }
    void kill9() { ASSERT_TRUE(app.kill9()); }
    // Read through a connection of our own, as any other reader of the file would.
    static bool committed(const QString& hash)
    {
        historytest::RawDb db(library(QStringLiteral("clipDB.sqlite")));
        return db.scalar(QStringLiteral("select count(*) from History where file_hash = ?"), {hash}).toInt() > 0;
    }

    AppProcess app;
};

}  // namespace

TEST_F(AppCrashSafety, KillsDuringCapturesLoseNoCommittedClip)
{
    QRandomGenerator random(4242);
    QStringList kept;  // hashes seen committed before a kill
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        start();
        for (int i = 0; i < 3; ++i) {
            const QString text = QStringLiteral("round %1, copy %2: kept across kills").arg(round).arg(i);
            ASSERT_TRUE(xclipCopy(text.toUtf8()));
            const QString hash = md5HexOfString(text);
            ASSERT_TRUE(testenv::waitUntil([&] { return committed(hash); }, 10s)) << text.toStdString();
            kept << hash;
        }
        // One more copy, and the kill lands at some point of its capture.
        ASSERT_TRUE(xclipCopy(QStringLiteral("round %1: copied as the program dies").arg(round).toUtf8()));
        QElapsedTimer wait;
        wait.start();
        const int delay = int(random.bounded(40));
        while (wait.elapsed() < delay)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        kill9();
    }

    start();
    historytest::RawDb db(library(QStringLiteral("clipDB.sqlite")));
    EXPECT_EQ(db.scalar(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
    for (const QString& hash : kept) {
        EXPECT_TRUE(committed(hash)) << hash.toStdString();
        EXPECT_TRUE(QFileInfo::exists(library(QStringLiteral("files/") + hash))) << hash.toStdString();
    }
    EXPECT_TRUE(QDir(library()).entryList({QStringLiteral("clipDB.sqlite.corrupt-*")}).isEmpty());
}

TEST_F(AppCrashSafety, BodiesWithoutARowAreRemovedAtStart)
{
    start();
    const QString text = QStringLiteral("a clip with its row");
    ASSERT_TRUE(xclipCopy(text.toUtf8()));
    const QString kept = md5HexOfString(text);
    ASSERT_TRUE(testenv::waitUntil([&] { return committed(kept); }, 10s));
    ASSERT_TRUE(app.terminate());

    // Left by a row insert that failed (a full disk): a body and a zip no row names.
    const QString orphan = md5HexOfString(QStringLiteral("never stored"));
    for (const QString& path : {library(QStringLiteral("files/") + orphan), library(QStringLiteral("zips/") + orphan)}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write("never stored");
    }
    start();
    // The sweep runs off the main thread once start-up is under way, so wait for it.
    EXPECT_TRUE(testenv::waitUntil([&] {
        return !QFileInfo::exists(library(QStringLiteral("files/") + orphan))
               && !QFileInfo::exists(library(QStringLiteral("zips/") + orphan));
    }, 20s));
    EXPECT_TRUE(QFileInfo::exists(library(QStringLiteral("files/") + kept)));
    EXPECT_TRUE(committed(kept));
}
