#include "app/clipfixture.h"

#include "platform/notificationcenter.h"
#include "store/clipbodylimit.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/utils.h"

#include <QDir>
#include <QFileInfo>

#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace cliptest;
using namespace std::chrono_literals;

namespace {

class ClipCaptureTest : public ClipTest {};

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

}  // namespace

TEST_F(ClipCaptureTest, ACountOfZeroIsNeverCapturedNorRemembered)
{
    copyText(QStringLiteral("waiting for a count"));
    pasteboard->setChangeCount(0);
    poll();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(watcher().lastChangedCount(), 0);
    EXPECT_EQ(pasteboard->snapshotCount(), 0) << "a count of 0 reads nothing";

    pasteboard->setChangeCount(7);
    poll();
    EXPECT_TRUE(row(md5HexOfString(QStringLiteral("waiting for a count"))));
    EXPECT_EQ(watcher().lastChangedCount(), 7);
}

TEST_F(ClipCaptureTest, TheFirstPollCapturesWhatIsAlreadyThereAndAnUnchangedCountReadsNothing)
{
    const QString text = QStringLiteral("copied before the start");
    copyText(text);
    const qint64 count = pasteboard->changeCount();
    ClipController& controller = ClipController::sharedInstance();
    controller.startClipObserver();  // as at first use: polls at once
    controller.waitForCaptures();
    EXPECT_TRUE(row(md5HexOfString(text)));
    EXPECT_EQ(controller.lastChangedCount(), count);

    const int reads = pasteboard->snapshotCount();
    for (int i = 0; i < 5; ++i)
        controller.seekClipboard();
    controller.waitForCaptures();
    EXPECT_EQ(pasteboard->snapshotCount(), reads);
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(ClipCaptureTest, ThePollIntervalComesFromTheMonitorSpeedSetting)
{
    const struct {
        QVariant stored;
        int milliseconds;
    } cases[] = {
        {QVariant(), 600},
        {QVariant(0.1), 100},
        {QVariant(0.35), 350},
        {QVariant(QStringLiteral("0.2")), 200},
        // No pause at all, or a timer that cannot run: the default instead.
        {QVariant(0.0), 600},
        {QVariant(-1.0), 600},
        {QVariant(QStringLiteral("fast")), 600},
    };
    ClipController& controller = ClipController::sharedInstance();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        ClipUserDefaults::standardUserDefaults().setValue(QStringLiteral("CLIP_MONITOR_SPEED"), c.stored);
        controller.startClipObserver();
        EXPECT_EQ(controller.pollInterval(), std::chrono::milliseconds(c.milliseconds));
    }
}

TEST_F(ClipCaptureTest, TheTimerPollsByItself)
{
    ClipController& controller = ClipController::sharedInstance();
    controller.setPollInterval(20ms);
    copyText(QStringLiteral("seen by the timer"));
    EXPECT_TRUE(testenv::waitUntil([&] {
        controller.waitForCaptures();
        return row(md5HexOfString(QStringLiteral("seen by the timer"))) != nullptr;
    }));
}

TEST_F(ClipCaptureTest, ATextBecomesARowWithItsBody)
{
    watcher();
    const QString text = QStringLiteral("Hello  clipboard\nsecond line, and then a rather long tail");
    copyText(text);
    poll();
    const QString hash = md5HexOfString(text);
    const HistoryModelPtr clip = row(hash);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->content(), clipTextSummary(text));
    EXPECT_EQ(clip->type(), QStringLiteral("text_txt+enc"));
    EXPECT_EQ(clip->local_file_ok().toInt(), 1);
    EXPECT_FALSE(clip->secert().toBool());
    EXPECT_FALSE(clip->file_name().has_value());
    EXPECT_NEAR(clip->timestamp().toLongLong(), now(), 5);
    EXPECT_GT(clip->change_timestamp().toLongLong(), 0) << "a pending change for the upload worker";
    EXPECT_EQ(readFile(body(hash)), text.toUtf8());
    EXPECT_FALSE(QFileInfo::exists(zip(hash))) << "a text type carries no zip";
    EXPECT_EQ(clip->file_size().toDouble(), text.toUtf8().size());

    copyText(QStringLiteral("https://example.org/page"));
    poll();
    const HistoryModelPtr link = row(md5HexOfString(QStringLiteral("https://example.org/page")));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->type(), QStringLiteral("text_url_http+enc"));
}

TEST_F(ClipCaptureTest, KeyWordsMarkATextSecretUnlessSwitchedOff)
{
    watcher();
    copyText(QStringLiteral("my password is swordfish"));
    poll();
    const HistoryModelPtr secret = row(md5HexOfString(QStringLiteral("my password is swordfish")));
    ASSERT_TRUE(secret);
    EXPECT_TRUE(secret->secert().toBool());

    Utils::setAnalySecert(false);
    copyText(QStringLiteral("another password"));
    poll();
    const HistoryModelPtr plain = row(md5HexOfString(QStringLiteral("another password")));
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->secert().toBool());
}

TEST_F(ClipCaptureTest, ASecondCopyOnlyRefreshesTheTimeAndKeepsTheFirstVerdict)
{
    watcher();
    const QString text = QStringLiteral("meeting notes for thursday");
    const QString hash = md5HexOfString(text);
    copyText(text);
    poll();
    ASSERT_TRUE(row(hash));
    EXPECT_FALSE(row(hash)->secert().toBool());
    setRowTime(hash, 1000);

    // The words changed since: the row keeps what was decided at its first copy.
    ASSERT_TRUE(ConfigureManager::sharedInstance().addNewWord(QStringLiteral("thursday")));
    copyText(text);
    poll();
    EXPECT_EQ(rowCount(), 1);
    const HistoryModelPtr again = row(hash);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->secert().toBool());
    EXPECT_NEAR(again->timestamp().toLongLong(), now(), 5);

    copyText(QStringLiteral("see you thursday"));
    poll();
    const HistoryModelPtr fresh = row(md5HexOfString(QStringLiteral("see you thursday")));
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->secert().toBool()) << "a new text meets the new word";
}

TEST_F(ClipCaptureTest, AFolderCapturesNothingAlthoughItsNameIsOfferedAsText)
{
    watcher();
    const QString folder = testenv::home() + QStringLiteral("/Projects");
    ASSERT_TRUE(QDir().mkpath(folder));
    copyFile(folder);
    poll();
    EXPECT_EQ(rowCount(), 0);

    copyFile(testenv::home() + QStringLiteral("/gone.txt"));
    poll();
    EXPECT_EQ(rowCount(), 0) << "a missing file";
}

TEST_F(ClipCaptureTest, AFileOfExactlyTheLimitIsCapturedAndOneByteMoreIsNot)
{
    watcher();
    for (const qint64 size : {ClipBodyLimit::kBytes, ClipBodyLimit::kBytes + 1}) {
        SCOPED_TRACE(size);
        const QString path = testenv::home() + QStringLiteral("/big-%1.bin").arg(size);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("head");
        ASSERT_TRUE(file.resize(size));
        file.close();
        const int before = rowCount();
        copyFile(path);
        poll();
        const bool captured = rowCount() == before + 1;
        EXPECT_EQ(captured, size <= ClipBodyLimit::kBytes);
        if (captured) {
            EXPECT_TRUE(row(*md5HexOfFile(path)));
            EXPECT_EQ(QFileInfo(body(*md5HexOfFile(path))).size(), size);
        }
    }
}

TEST_F(ClipCaptureTest, AFileClipIsTypedByItsExtensionAndTheScriptSeesItsPath)
{
    watcher();
    const QString log = testenv::home() + QStringLiteral("/verdicts.log");
    usePrivacyScript(recordingScript(log));
    const struct {
        QString name;
        QString extension;
    } cases[] = {
        {QStringLiteral("report.pdf"), QStringLiteral("pdf")},
        {QStringLiteral("README"), QStringLiteral("unknow")},
        {QStringLiteral("archive.tar.gz"), QStringLiteral("gz")},
        {QStringLiteral(".profile"), QStringLiteral("unknow")},
        {QStringLiteral("ends with a dot."), QStringLiteral("unknow")},
    };
    QStringList expectedLog;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = writeFile(c.name, "contents " + QByteArray::number(++n));
        copyFile(path);
        poll();
        const HistoryModelPtr clip = row(*md5HexOfFile(path));
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->type(), QStringLiteral("file_%1+zip+enc").arg(c.extension));
        EXPECT_EQ(clip->content(), c.name);
        EXPECT_EQ(clip->file_name(), c.name);
        EXPECT_FALSE(clip->secert().toBool()) << "the script decides, not the file switch";
        EXPECT_EQ(readFile(body(*clip->file_hash())), readFile(path));
        EXPECT_TRUE(QFileInfo::exists(zip(*clip->file_hash())));
        expectedLog << QStringLiteral("file|%1|%2").arg(c.extension, path);
    }
    EXPECT_EQ(QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts), expectedLog);
}

TEST_F(ClipCaptureTest, AFileIsSecretByTheFileSwitch)
{
    watcher();
    for (const bool on : {true, false}) {
        Utils::setFileAsSecert(on);
        const QString path = writeFile(QStringLiteral("key-%1.txt").arg(on), QByteArray::number(on));
        copyFile(path);
        poll();
        const HistoryModelPtr clip = row(*md5HexOfFile(path));
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->secert().toBool(), on);
    }
}

TEST_F(ClipCaptureTest, OnlyARegularFileIsRead)
{
    watcher();
    // A FIFO would block the capture queue in its first read until someone writes to it.
    const QString fifo = testenv::home() + QStringLiteral("/pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    copyFile(fifo);
    watcher().seekClipboard();
    auto drained = std::async(std::launch::async, [&] { watcher().waitForCaptures(); });
    if (drained.wait_for(3s) != std::future_status::ready) {
        ADD_FAILURE() << "the capture hangs on the FIFO";
        // Let every open of it that waits for a writer go on to read its end.
        while (drained.wait_for(10ms) != std::future_status::ready) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    }
    EXPECT_EQ(rowCount(), 0);

    // A device is no file either, even one that reads as empty.
    copyFile(QStringLiteral("/dev/null"));
    poll();
    EXPECT_EQ(rowCount(), 0);

    // A link is followed to its file; the clip keeps the link's name.
    const QString target = writeFile(QStringLiteral("real.txt"), "linked contents");
    const QString link = testenv::home() + QStringLiteral("/shortcut.md");
    ASSERT_TRUE(QFile::link(target, link));
    copyFile(link);
    poll();
    const HistoryModelPtr clip = row(*md5HexOfFile(target));
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->file_name(), QStringLiteral("shortcut.md"));
    EXPECT_EQ(clip->type(), QStringLiteral("file_md+zip+enc"));
}

TEST_F(ClipCaptureTest, AnImageIsStoredAsItsTiff)
{
    watcher();
    copyImage(encoded(picture(), "PNG"));
    poll();
    const QByteArray tiff = clipTiff(picture());
    ASSERT_FALSE(tiff.isEmpty());
    const QString hash = md5HexOfData(tiff);
    const HistoryModelPtr clip = row(hash);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->type(), QStringLiteral("image_data+zip+enc"));
    EXPECT_EQ(clip->content(), imageThumbnailBase64(tiff));
    EXPECT_FALSE(clip->secert().toBool());
    EXPECT_EQ(readFile(body(hash)), tiff);
    EXPECT_TRUE(QFileInfo::exists(zip(hash)));
}

TEST_F(ClipCaptureTest, TheKindIsChosenFileThenTextThenImage)
{
    watcher();
    const QByteArray png = encoded(picture(3), "PNG");
    const QString path = writeFile(QStringLiteral("photo.png"), png);
    const struct {
        const char* what;
        QList<std::pair<QString, QByteArray>> offers;
        QString expectedType;
    } cases[] = {
        {"file and image", {{QStringLiteral("text/uri-list"), uriList(path)}, {QStringLiteral("image/png"), png}},
         QStringLiteral("file_png+zip+enc")},
        {"empty text and image", {{QStringLiteral("text/plain"), ""}, {QStringLiteral("image/png"), png}},
         QStringLiteral("image_data+zip+enc")},
        {"text and image", {{QStringLiteral("text/plain"), "caption"}, {QStringLiteral("image/png"), png}},
         QStringLiteral("text_txt+enc")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DBKeeper::removeAllData();
        pasteboard->offer(c.offers);
        poll();
        const HistoryList rows = DBKeeper::getAllHistory();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows.front()->type(), c.expectedType);
    }

    // An empty text alone is nothing to capture.
    DBKeeper::removeAllData();
    pasteboard->offer({{QStringLiteral("text/plain"), ""}});
    poll();
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(ClipCaptureTest, OwnWriteWithRecordingOffIsDroppedExactlyOnce)
{
    watcher();
    const QString text = QStringLiteral("merged and pasted");
    watcher().sendToClipboard(text, false);
    EXPECT_EQ(watcher().skiped(), text);

    // Another text leaves the mark alone.
    copyText(QStringLiteral("something else"));
    poll();
    EXPECT_EQ(watcher().skiped(), text);

    watcher().sendToClipboard(text, false);
    poll();
    EXPECT_FALSE(row(md5HexOfString(text)));
    EXPECT_EQ(watcher().skiped(), std::nullopt);

    copyText(text);
    poll();
    EXPECT_TRUE(row(md5HexOfString(text))) << "the user's own copy of it later is recorded";
}

TEST_F(ClipCaptureTest, TheOwnWriteCheckComesBeforeAScriptThatRefuses)
{
    watcher();
    const QString log = testenv::home() + QStringLiteral("/verdicts.log");
    usePrivacyScript(recordingScript(log, QStringLiteral("-1")));
    const QString own = QStringLiteral("written by us");
    ConfigureManager::sharedInstance().setIncommingHash(md5HexOfString(QStringLiteral("from a phone")));

    watcher().sendToClipboard(own, false);
    poll();
    EXPECT_EQ(watcher().skiped(), std::nullopt);
    EXPECT_TRUE(readFile(log).isEmpty()) << "the script never saw our own write";

    copyText(QStringLiteral("from a phone"));
    poll();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(ConfigureManager::sharedInstance().incommingHash(), md5HexOfString(QStringLiteral("from a phone")))
        << "a refused clip leaves the incoming hash set";
    EXPECT_EQ(QString::fromUtf8(readFile(log)), QStringLiteral("text||from a phone\n"));
}

TEST_F(ClipCaptureTest, TheScriptDecidesSecretOrNotForEveryKind)
{
    watcher();
    usePrivacyScript(QStringLiteral("function main(from, ext, content)\n"
                                    "  if from == 'image' and ext == 'data' and content == 'image data' then return 1 end\n"
                                    "  if content == 'keep out' then return -1 end\n"
                                    "  if string.find(content, 'secret', 1, true) then return 1.9 end\n"
                                    "  return 0\n"
                                    "end\n"));
    copyText(QStringLiteral("keep out"));
    poll();
    EXPECT_EQ(rowCount(), 0);

    copyText(QStringLiteral("my password"));
    poll();
    const HistoryModelPtr words = row(md5HexOfString(QStringLiteral("my password")));
    ASSERT_TRUE(words);
    EXPECT_FALSE(words->secert().toBool()) << "with the script on, key words play no part";

    copyText(QStringLiteral("a secret"));
    poll();
    const HistoryModelPtr marked = row(md5HexOfString(QStringLiteral("a secret")));
    ASSERT_TRUE(marked);
    EXPECT_TRUE(marked->secert().toBool());

    copyImage(encoded(picture(9), "PNG"));
    poll();
    const HistoryModelPtr image = row(md5HexOfData(clipTiff(picture(9))));
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->secert().toBool());
}

TEST_F(ClipCaptureTest, AVerdictTooSlowForItsLimitKeepsTheClipSecretAndLocal)
{
    watcher();
    // Refuses a password, but only after the verdict's limit on this text.
    usePrivacyScript(QStringLiteral("function main(from, ext, content)\n"
                                    "  if content:find('password', 1, true) then\n"
                                    "    local t = os.clock() while os.clock() - t < 1 do end\n"
                                    "    return -1\n"
                                    "  end\n"
                                    "  return 0\n"
                                    "end\n"));
    copyText(QStringLiteral("password: hunter2"));
    poll();
    const HistoryModelPtr late = row(md5HexOfString(QStringLiteral("password: hunter2")));
    ASSERT_TRUE(late) << "kept here";
    EXPECT_TRUE(late->secert().toBool()) << "so never uploaded";

    copyText(QStringLiteral("a plain note"));
    poll();
    const HistoryModelPtr note = row(md5HexOfString(QStringLiteral("a plain note")));
    ASSERT_TRUE(note);
    EXPECT_FALSE(note->secert().toBool()) << "the next verdict runs as before";
}

TEST_F(ClipCaptureTest, TheIncomingHashDropsOneCopyAndIsCleared)
{
    watcher();
    const QByteArray png = encoded(picture(5), "PNG");
    const QString path = writeFile(QStringLiteral("from-mac.txt"), "synced file");
    const struct {
        const char* kind;
        QString hash;
        std::function<void()> copy;
    } cases[] = {
        {"text", md5HexOfString(QStringLiteral("synced text")), [&] { copyText(QStringLiteral("synced text")); }},
        {"image", md5HexOfData(clipTiff(picture(5))), [&] { copyImage(png); }},
        {"file", *md5HexOfFile(path), [&] { copyFile(path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        ConfigureManager::sharedInstance().setIncommingHash(c.hash);
        copyText(QStringLiteral("unrelated %1").arg(c.kind));
        poll();
        EXPECT_EQ(ConfigureManager::sharedInstance().incommingHash(), c.hash) << "another clip leaves it set";

        c.copy();
        poll();
        EXPECT_FALSE(row(c.hash));
        EXPECT_EQ(ConfigureManager::sharedInstance().incommingHash(), std::nullopt);

        c.copy();
        poll();
        EXPECT_TRUE(row(c.hash)) << "the next copy of it is the user's";
    }
}

TEST_F(ClipCaptureTest, CapturesRunOneAtATimeInTheOrderTheyWereSeen)
{
    watcher();
    const QString log = testenv::home() + QStringLiteral("/order.log");
    // The first clip takes a while to judge; later ones must still wait for it.
    usePrivacyScript(QStringLiteral("function main(from, ext, content)\n"
                                    "  if content == '' then return 0 end\n"
                                    "  if content == 'first' then local t = os.clock() while os.clock() - t < 0.03 do end end\n"
                                    "  local f = io.open([[%1]], 'a') f:write(content .. '\\n') f:close()\n"
                                    "  return 0\n"
                                    "end\n")
                         .arg(log));
    const QStringList texts{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third"),
                            QStringLiteral("fourth")};
    for (const QString& text : texts) {
        copyText(text);
        watcher().seekClipboard();
    }
    watcher().waitForCaptures();
    EXPECT_EQ(QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts), texts);
    EXPECT_EQ(rowCount(), 4);
}

TEST_F(ClipCaptureTest, LogoutPurgesEverythingAndRecapturesThePasteboard)
{
    watcher();
    copyImage(encoded(picture(1), "PNG"));
    poll();
    const QString path = writeFile(QStringLiteral("notes.txt"), "file body");
    copyFile(path);
    poll();
    ASSERT_EQ(rowCount(), 2);

    int dataChanged = 0;
    QObject owner;
    NotificationCenter::defaultCenter().addObserver(QStringLiteral("DATA_CHANGED"), &owner,
                                                    [&](const Notification&) { ++dataChanged; });
    // A slow capture of an older copy is still queued when the logout arrives: it must not
    // survive the purge.
    usePrivacyScript(QStringLiteral("function main(from, ext, content)\n"
                                    "  if content == 'before logout' then local t = os.clock() while os.clock() - t < 0.1 do end end\n"
                                    "  return 0\n"
                                    "end\n"));
    copyText(QStringLiteral("before logout"));
    watcher().seekClipboard();
    const QString current = QStringLiteral("on the pasteboard at logout");
    copyText(current);

    ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    ASSERT_TRUE(testenv::waitUntil([&] { return dataChanged == 1; }));

    const HistoryList rows = DBKeeper::getAllHistory();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.front()->file_hash(), md5HexOfString(current));
    EXPECT_EQ(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files), QStringList{md5HexOfString(current)});
    EXPECT_TRUE(QDir(PathHelper::getZipsFilePath()).entryList(QDir::Files).isEmpty());
}

TEST_F(ClipCaptureTest, ATextIsTheClipOfItsPartBeforeANulAndItsBodyIsWhatItsHashNames)
{
    watcher();
    const QString start = QStringLiteral("same start");
    const QString first = start + QChar(u'\0') + QStringLiteral("first tail");
    const QString second = start + QChar(u'\0') + QStringLiteral("second tail");
    const QString hash = md5HexOfString(start);
    ASSERT_EQ(md5HexOfString(first), hash);
    ASSERT_EQ(md5HexOfString(second), hash);

    for (const QString& copied : {first, second}) {
        copyText(copied);
        poll();
        ASSERT_EQ(rowCount(), 1) << "one clip, as every device names it";
        const HistoryModelPtr clip = row(hash);
        ASSERT_TRUE(clip);
        EXPECT_EQ(md5HexOfData(readFile(body(hash))), hash) << "the body's digest is its name";
        EXPECT_EQ(clip->content(), start);
        // What choosing it puts back: the clip itself, never the tail of another copy.
        watcher().sendToClipboard(clip, nullptr, false);
        EXPECT_EQ(pasteboard->data(QStringLiteral("text/plain")), start.toUtf8());
        poll();  // our own write, dropped once
    }

    // Nothing before the NUL: nothing to keep.
    historytest::LogCapture log;
    copyText(QChar(u'\0') + QStringLiteral("hidden"));
    poll();
    EXPECT_EQ(rowCount(), 1);
    EXPECT_FALSE(QFileInfo::exists(body(md5HexOfString(QString()))));
    EXPECT_TRUE(log.contains(QStringLiteral("nothing comes before its first NUL")));
}

TEST_F(ClipCaptureTest, AnEmptyFileIsNotCapturedAndSaysSo)
{
    watcher();
    historytest::LogCapture log;
    const QString empty = writeFile(QStringLiteral("empty.txt"), QByteArray());
    copyFile(empty);
    poll();
    EXPECT_EQ(rowCount(), 0) << "neither the file nor its name as text";
    EXPECT_FALSE(QFileInfo::exists(body(md5HexOfData(QByteArray()))));
    EXPECT_TRUE(log.contains(QStringLiteral("file not captured: it is empty (0 bytes)")));

    const QString one = writeFile(QStringLiteral("one.txt"), QByteArray("1"));
    copyFile(one);
    poll();
    EXPECT_TRUE(row(*md5HexOfFile(one))) << "a file of one byte is a clip";
}

TEST_F(ClipCaptureTest, AKeyWordTheEngineGivesUpOnKeepsTheTextSecret)
{
    watcher();
    ASSERT_TRUE(ConfigureManager::sharedInstance().addNewWord(QStringLiteral("(x+x+)+y")));
    // Holds a match ("xxy") that the engine gives up before it reaches.
    const QString text = QString(40, QLatin1Char('x')) + QStringLiteral("! then xxy");
    copyText(text);
    poll();
    const HistoryModelPtr clip = row(md5HexOfString(text));
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->secert().toBool());
}
