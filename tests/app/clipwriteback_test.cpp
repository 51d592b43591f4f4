#include "app/clipfixture.h"
#include "app/menucontroller.h"

#include "plugins/pluginmanager.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"

#include <QFileInfo>

#include <sys/stat.h>

using namespace cliptest;

namespace {

class ClipWriteBackTest : public ClipTest {
protected:
    // A clip stored as capture would store it: body and row.
    static HistoryModelPtr storedText(const QString& text, qint64 time,
                                      const QString& category = QStringLiteral("history"))
    {
        auto clip = std::make_shared<HistoryModel>();
        clip->setContent(clipTextSummary(text));
        clip->setType(QStringLiteral("text_txt+enc"));
        clip->setFile_hash(md5HexOfString(text));
        clip->setTimestamp(QVariant(time));
        clip->setCategory(category);
        clip->setHistory_id(QVariant(0));
        clip->setFile_id(QVariant(0));
        ClipFileManager::sharedInstance().saveClipData(text.toUtf8(), *clip);
        clip->save();
        return clip;
    }
    static HistoryModelPtr storedImage(const QByteArray& data, qint64 time)
    {
        auto clip = std::make_shared<HistoryModel>();
        clip->setContent(QStringLiteral("thumbnail"));
        clip->setType(QStringLiteral("image_data+zip+enc"));
        clip->setFile_hash(md5HexOfData(data));
        clip->setTimestamp(QVariant(time));
        ClipFileManager::sharedInstance().saveClipData(data, *clip);
        clip->save();
        return clip;
    }
    QString pasteboardText() const { return QString::fromUtf8(pasteboard->data(QStringLiteral("text/plain"))); }
    // Runs the main queue until the paste keystroke was posted.
    bool pasted(int times = 1)
    {
        return testenv::waitUntil([&] { return keystroke->posted >= times; });
    }
};

}  // namespace

TEST_F(ClipWriteBackTest, ChoosingATextClipWritesItPastesAfterTheWriteAndMovesItToTheTop)
{
    watcher();
    const QString text = QStringLiteral("chosen from the menu");
    const HistoryModelPtr clip = storedText(text, 1000);
    QString seenAtPost;
    keystroke->onPost = [&] { seenAtPost = pasteboardText(); };

    MenuController::sharedInstance().clickIteam(clip);
    EXPECT_EQ(pasteboardText(), text);
    EXPECT_EQ(keystroke->posted, 0) << "the paste waits for the main queue";
    ASSERT_TRUE(pasted());
    EXPECT_EQ(seenAtPost, text);
    EXPECT_EQ(watcher().skiped(), std::nullopt) << "a chosen clip is recorded";

    // The watcher sees the write as the same clip: it only moves to the top.
    poll();
    EXPECT_EQ(rowCount(), 1);
    EXPECT_NEAR(row(md5HexOfString(text))->timestamp().toLongLong(), QDateTime::currentSecsSinceEpoch(), 5);
}

TEST_F(ClipWriteBackTest, ATextWhoseBodyIsGoneEmptiesThePasteboardAndStillPastes)
{
    watcher();
    const HistoryModelPtr clip = storedText(QStringLiteral("body removed"), 1000);
    ASSERT_TRUE(QFile::remove(body(*clip->file_hash())));
    copyText(QStringLiteral("the previous clip"));

    MenuController::sharedInstance().clickIteam(clip);
    EXPECT_TRUE(pasteboard->types().isEmpty());
    EXPECT_TRUE(pasted());
}

TEST_F(ClipWriteBackTest, APluginTransformsTheTextAndAnEmptyResultWritesNothing)
{
    watcher();
    const PluginObjectPtr trim = PluginManager::sharedInstance().listPlugins().value(QStringLiteral("com.nuvarel.plugin.trim"));
    ASSERT_TRUE(trim) << "the built-in trim plugin";

    const HistoryModelPtr padded = storedText(QStringLiteral("  padded text \n"), 1000);
    watcher().sendToClipboard(padded, trim);
    EXPECT_EQ(pasteboardText(), QStringLiteral("padded text"));
    poll();
    EXPECT_TRUE(row(md5HexOfString(QStringLiteral("padded text")))) << "the plugin's result is a clip of its own";

    const int rows = rowCount();
    const HistoryModelPtr blank = storedText(QStringLiteral(" \t\n "), 1000);
    watcher().sendToClipboard(blank, trim);
    EXPECT_TRUE(pasteboard->types().isEmpty());
    poll();
    EXPECT_EQ(rowCount(), rows + 1) << "only the stored blank clip; nothing captured";
    EXPECT_EQ(watcher().skiped(), std::nullopt);
}

TEST_F(ClipWriteBackTest, AnImageGoesBackUnderItsOwnFormatAndComesBackWithItsHash)
{
    watcher();
    const QByteArray png = encoded(picture(2), "PNG");
    copyImage(png);
    poll();
    const HistoryList captured = DBKeeper::getAllHistory();
    ASSERT_EQ(captured.size(), 1);
    const QString hash = *captured.front()->file_hash();

    // Captured in this run: the very PNG goes back; once forgotten (a restart), the stored TIFF.
    for (const bool forgotten : {false, true}) {
        SCOPED_TRACE(forgotten);
        if (forgotten)
            watcher().forgetCapturedImages();
        setRowTime(hash, 1000);
        watcher().sendToClipboard(captured.front(), nullptr);
        if (forgotten) {
            EXPECT_EQ(pasteboard->data(QStringLiteral("image/tiff")), readFile(body(hash)));
        } else {
            EXPECT_EQ(pasteboard->data(QStringLiteral("image/png")), png);
            EXPECT_FALSE(pasteboard->types().contains(QStringLiteral("image/tiff")));
        }
        poll();
        EXPECT_EQ(rowCount(), 1) << "captured again as the same clip";
        EXPECT_NEAR(row(hash)->timestamp().toLongLong(), QDateTime::currentSecsSinceEpoch(), 5);
    }

    // A clip from another device may hold a PNG or a JPEG body.
    for (const char* format : {"PNG", "JPEG"}) {
        SCOPED_TRACE(format);
        const QByteArray data = encoded(picture(7), format);
        const HistoryModelPtr clip = storedImage(data, 2000);
        watcher().sendToClipboard(clip, nullptr);
        const QString type = PasteboardImage::mimeTypeOf(data);
        ASSERT_TRUE(pasteboard->types().contains(type));
        EXPECT_EQ(pasteboard->data(type), data);
        EXPECT_FALSE(pasteboard->types().contains(QStringLiteral("image/tiff")));
    }
}

TEST_F(ClipWriteBackTest, AFileGoesBackAsItsPreviewLinkUnderItsOwnNamePlusItsPath)
{
    watcher();
    const QString path = writeFile(QStringLiteral("report.pdf"), "%PDF-1.4 quarterly");
    copyFile(path);
    poll();
    const HistoryModelPtr clip = row(*md5HexOfFile(path));
    ASSERT_TRUE(clip);

    MenuController::sharedInstance().clickIteam(clip);
    const QString link = PathHelper::getPreviewsFilePath(QStringLiteral("report.pdf"));
    EXPECT_EQ(pasteboard->data(QStringLiteral("text/uri-list")).trimmed(), QUrl::fromLocalFile(link).toEncoded());
    EXPECT_EQ(pasteboardText(), link);
    struct stat linkInfo {}, bodyInfo {};
    ASSERT_EQ(::stat(QFile::encodeName(link).constData(), &linkInfo), 0);
    ASSERT_EQ(::stat(QFile::encodeName(body(*clip->file_hash())).constData(), &bodyInfo), 0);
    EXPECT_EQ(linkInfo.st_ino, bodyInfo.st_ino) << "a hard link to the body";
    EXPECT_TRUE(pasted());

    // Pasting it back through the watcher keeps one clip of that file.
    poll();
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(ClipWriteBackTest, OtherKindsWriteNothing)
{
    watcher();
    auto clip = std::make_shared<HistoryModel>();
    clip->setType(QStringLiteral("reminder_x"));
    clip->setFile_hash(md5HexOfString(QStringLiteral("x")));
    copyText(QStringLiteral("stays"));
    watcher().sendToClipboard(clip, nullptr);
    EXPECT_EQ(pasteboardText(), QStringLiteral("stays"));
    watcher().sendToClipboard(QString(), false);
    EXPECT_EQ(pasteboardText(), QStringLiteral("stays"));
    EXPECT_EQ(watcher().skiped(), std::nullopt);
}

TEST_F(ClipWriteBackTest, ChoosingAFavouriteKeepsItInTheHistory)
{
    watcher();
    // The history row was deleted: choosing the favourite makes it again from its fields.
    const HistoryModelPtr favourite = storedText(QStringLiteral("favourite text"), 1500, QStringLiteral("favourite"));
    favourite->setFavourite(QVariant(qint64(1700000000)));
    favourite->save();
    MenuController::sharedInstance().clickIteam(favourite);
    const HistoryModelPtr recreated = row(*favourite->file_hash());
    ASSERT_TRUE(recreated);
    EXPECT_EQ(recreated->favourite().toLongLong(), 1700000000);
    EXPECT_EQ(recreated->content(), favourite->content());
    EXPECT_EQ(recreated->type(), favourite->type());
    EXPECT_EQ(pasteboardText(), QStringLiteral("favourite text"));
    EXPECT_TRUE(pasted());

    // An existing history row keeps its own fields and takes the favourite's value.
    const HistoryModelPtr history = storedText(QStringLiteral("both rows"), 1200);
    history->setContent(QStringLiteral("history's own summary"));
    history->save();
    const HistoryModelPtr copy = storedText(QStringLiteral("both rows"), 1800, QStringLiteral("favourite"));
    copy->setFavourite(QVariant(qint64(-42)));
    copy->save();
    MenuController::sharedInstance().clickIteam(copy);
    const HistoryModelPtr kept = row(*history->file_hash());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->favourite().toLongLong(), -42);
    EXPECT_EQ(kept->content(), QStringLiteral("history's own summary"));
    EXPECT_EQ(kept->timestamp().toLongLong(), 1200);
}

TEST_F(ClipWriteBackTest, AMergedPasteJoinsTheTextsFromTheClipOnAndIsNotRecorded)
{
    watcher();
    storedText(QStringLiteral("before"), 100);
    const HistoryModelPtr from = storedText(QStringLiteral("first"), 200);
    storedText(QStringLiteral("second\n"), 300);
    storedImage(encoded(picture(4), "PNG"), 350);
    const HistoryModelPtr lost = storedText(QStringLiteral("body gone"), 400);
    ASSERT_TRUE(QFile::remove(body(*lost->file_hash())));
    storedText(QStringLiteral("third"), 500);
    storedText(QStringLiteral("favourites are left out"), 600, QStringLiteral("favourite"));

    MenuController::sharedInstance().shiftClickIteam(from);
    ASSERT_TRUE(pasted());
    const QString merged = QStringLiteral("first\nsecond\nthird");
    EXPECT_EQ(pasteboardText(), merged) << "no line for the clip whose body is gone";
    EXPECT_EQ(watcher().skiped(), merged);

    const int rows = rowCount();
    poll();
    EXPECT_EQ(rowCount(), rows);
    EXPECT_EQ(watcher().skiped(), std::nullopt);
    copyText(merged);
    poll();
    EXPECT_TRUE(row(md5HexOfString(merged))) << "the user's own copy of the merged text is recorded";
}

TEST_F(ClipWriteBackTest, WithoutAnEventSourceNothingIsPosted)
{
    watcher();
    keystroke->hasEventSource = false;
    historytest::LogCapture log;
    MenuController::sharedInstance().clickIteam(storedText(QStringLiteral("no display"), 100));
    EXPECT_TRUE(testenv::waitUntil([&] { return log.hasMessage(QStringLiteral("No event source")); }));
    EXPECT_EQ(keystroke->posted, 0);
    EXPECT_EQ(pasteboardText(), QStringLiteral("no display"));
}
