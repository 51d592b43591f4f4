#include "platform/fake/pasteboardfake.h"
#include "platform/pasteboardimage.h"
#include "platform/pasteboardmimedata.h"
#include "platform/pasteboardsnapshot.h"
#include "platform/linux/systempasteboard.h"
#include "support/testenv.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

#include <thread>

namespace {

QByteArray png(QColor colour = Qt::darkCyan, QSize size = QSize(9, 7))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    image.setPixel(0, 0, qRgba(10, 20, 30, 128));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray tiffOf(const QByteArray& encoded)
{
    return PasteboardImage::tiffRepresentation(PasteboardImage::decode(encoded)).value_or(QByteArray());
}

// Another application's offers, their bytes read back as given (as X11 hands them over).
PasteboardSnapshot snapshotOf(const QList<std::pair<QString, QByteArray>>& offers)
{
    PasteboardFake pasteboard;
    pasteboard.offer(offers);
    return pasteboard.snapshot();
}

QStringList localPaths(const PasteboardSnapshot& snapshot)
{
    QStringList paths;
    for (const QUrl& url : snapshot.fileURLs())
        paths.append(url.toLocalFile());
    return paths;
}

}  // namespace

TEST(PasteboardSnapshot, EmptyContentHasNoItem)
{
    const PasteboardSnapshot none;
    EXPECT_EQ(none.itemCount(), 0);
    EXPECT_FALSE(none.string().has_value());
    EXPECT_TRUE(none.fileURLs().isEmpty());
    EXPECT_FALSE(none.hasImage());
    EXPECT_FALSE(none.tiffRepresentation().has_value());
    EXPECT_EQ(snapshotOf({}).itemCount(), 0);
}

TEST(PasteboardSnapshot, TakesOnlyLocalFileUrls)
{
    const QString uriList = QStringLiteral("text/uri-list");
    const QString gnome = QStringLiteral("x-special/gnome-copied-files");
    const struct {
        const char* name;
        QList<std::pair<QString, QByteArray>> offers;
        QStringList paths;
    } cases[] = {
        {"one file", {{uriList, "file:///tmp/report.pdf\r\n"}}, {"/tmp/report.pdf"}},
        {"escaped name",
         {{uriList, "file:///tmp/my%20notes%20%C3%A9t%C3%A9.txt"}},
         {QStringLiteral("/tmp/my notes \u00e9t\u00e9.txt")}},
        {"comments, remote and web urls dropped",
         {{uriList, "# copied\r\nhttps://example.org/a.png\r\nfile://otherhost/share/x\r\n"
                    "file:///tmp/a\r\nfile://localhost/tmp/b\r\n"}},
         {"/tmp/a", "/tmp/b"}},
        {"web url only", {{uriList, "https://example.org/\r\n"}}, {}},
        {"file manager list", {{gnome, "copy\nfile:///home/u/one\nfile:///home/u/two"}}, {"/home/u/one", "/home/u/two"}},
        {"cut in a file manager", {{gnome, "cut\nfile:///home/u/moved\n"}}, {"/home/u/moved"}},
        {"uri list wins",
         {{uriList, "file:///tmp/from-list"}, {gnome, "copy\nfile:///tmp/from-gnome"}},
         {"/tmp/from-list"}},
        {"gnome list when the uri list has no file",
         {{uriList, "https://example.org/"}, {gnome, "copy\nfile:///tmp/from-gnome"}},
         {"/tmp/from-gnome"}},
        {"folders are kept for the capture to judge", {{uriList, "file:///tmp/\r\n"}}, {"/tmp/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PasteboardSnapshot snapshot = snapshotOf(c.offers);
        EXPECT_EQ(snapshot.itemCount(), 1);
        EXPECT_EQ(localPaths(snapshot), c.paths);
    }
}

TEST(PasteboardSnapshot, ReadsRawCharactersLenientlyAndKeepsThePathsBytes)
{
    const QString uriList = QStringLiteral("text/uri-list");
    const QString gnome = QStringLiteral("x-special/gnome-copied-files");
    const struct {
        const char* name;
        QString type;
        QByteArray list;
        QList<QByteArray> paths;
    } cases[] = {
        {"raw spaces", uriList, "file:///tmp/my notes.txt\r\n", {"/tmp/my notes.txt"}},
        {"raw letters beyond ASCII", uriList, "file:///tmp/\xc3\xa9t\xc3\xa9 2024.txt", {"/tmp/\xc3\xa9t\xc3\xa9 2024.txt"}},
        {"escaped bytes that are no UTF-8", uriList, "file:///tmp/caf%E9.txt", {"/tmp/caf\xe9.txt"}},
        {"raw bytes that are no UTF-8", uriList, "file:///tmp/caf\xe9 \xff.txt", {"/tmp/caf\xe9 \xff.txt"}},
        {"an unescaped name keeps its # and ?", uriList, "file:///tmp/take #2 (final?).txt",
         {"/tmp/take #2 (final?).txt"}},
        {"a lone percent", uriList, "file:///tmp/100% done.txt", {"/tmp/100% done.txt"}},
        {"escapes and raw characters mixed", uriList, "file:///tmp/a%20b c.txt", {"/tmp/a b c.txt"}},
        {"file manager list", gnome, "copy\nfile:///home/u/Spreadsheet 1.ods", {"/home/u/Spreadsheet 1.ods"}},
        {"a well-formed line keeps its meaning", uriList, "file:///tmp/a.txt#part", {"/tmp/a.txt"}},
        {"an escaped NUL", uriList, "file:///tmp/a%00b.txt\r\nfile:///tmp/ok", {"/tmp/ok"}},
        {"raw, on another host", uriList, "file://server/share/a b.txt", {}},
        {"raw, but no file", uriList, "https://example.org/a b", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PasteboardSnapshot snapshot = snapshotOf({{c.type, c.list}});
        EXPECT_EQ(snapshot.filePaths(), c.paths);
        ASSERT_EQ(snapshot.fileURLs().size(), c.paths.size());
        for (qsizetype i = 0; i < c.paths.size(); ++i)
            EXPECT_EQ(snapshot.fileURLs()[i].toLocalFile(), QFile::decodeName(c.paths[i]));
    }
}

TEST(PasteboardSnapshot, ReadsTextAndTheImageOnlyWhenTheCaptureCanUseIt)
{
    const QByteArray picture = png();
    const struct {
        const char* name;
        QList<std::pair<QString, QByteArray>> offers;
        std::optional<QString> text;
        bool image;
    } cases[] = {
        {"text only", {{"text/plain", "hello"}}, QStringLiteral("hello"), false},
        {"text hides the image", {{"text/plain", "caption"}, {"image/png", picture}}, QStringLiteral("caption"), false},
        {"empty text falls through to the image", {{"text/plain", ""}, {"image/png", picture}}, QString(), true},
        {"no text type", {{"image/png", picture}}, std::nullopt, true},
        {"a file hides the image",
         {{"text/uri-list", "file:///tmp/pic.png"}, {"image/png", picture}},
         std::nullopt,
         false},
        {"unreadable image offer", {{"image/svg+xml", "<svg/>"}}, std::nullopt, false},
        {"next readable offer", {{"image/svg+xml", "<svg/>"}, {"image/x-fancy", picture}}, std::nullopt, true},
        {"html only", {{"text/html", "<b>bold</b>"}}, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PasteboardSnapshot snapshot = snapshotOf(c.offers);
        EXPECT_EQ(snapshot.string(), c.text);
        EXPECT_EQ(snapshot.hasImage(), c.image);
        EXPECT_EQ(snapshot.tiffRepresentation().has_value(), c.image);
    }
}

TEST(PasteboardSnapshot, PrefersTheLosslessImageOffer)
{
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "JPEG", 10);
    const QByteArray lossless = png(Qt::blue);

    const PasteboardSnapshot snapshot = snapshotOf({{"image/jpeg", jpeg}, {"image/png", lossless}});
    EXPECT_EQ(snapshot.tiffRepresentation(), tiffOf(lossless));
}

TEST(PasteboardSnapshot, TakesAnImageSetWithinTheProcess)
{
    QImage image(5, 5, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QMimeData data;
    data.setImageData(image);
    const PasteboardSnapshot snapshot = PasteboardSnapshot::fromMimeData(data);
    ASSERT_TRUE(snapshot.hasImage());
    EXPECT_EQ(snapshot.tiffRepresentation(), PasteboardImage::tiffRepresentation(image));
}

TEST(PasteboardMimeData, OffersWhatEachWriteStandsFor)
{
    const auto text = PasteboardMimeData::forString(QStringLiteral("z\u00fcrich \u2713"));
    EXPECT_EQ(text->text(), QStringLiteral("z\u00fcrich \u2713"));

    const auto file = PasteboardMimeData::forFileURL(QStringLiteral("/tmp/previews/report 1.pdf"));
    EXPECT_EQ(file->data(QStringLiteral("text/uri-list")), QByteArray("file:///tmp/previews/report%201.pdf\r\n"));
    EXPECT_EQ(file->data(QStringLiteral("x-special/gnome-copied-files")),
              QByteArray("copy\nfile:///tmp/previews/report%201.pdf"));
    EXPECT_EQ(file->text(), QStringLiteral("/tmp/previews/report 1.pdf"));

    const QByteArray tiff = tiffOf(png());
    const auto image = PasteboardMimeData::forImageData(tiff);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->formats(), (QStringList{QStringLiteral("image/tiff"), QStringLiteral("image/png")}));
    EXPECT_EQ(image->data(QStringLiteral("image/tiff")), tiff);
    const QByteArray asPng = image->data(QStringLiteral("image/png"));
    EXPECT_EQ(PasteboardImage::mimeTypeOf(asPng), QStringLiteral("image/png"));
    EXPECT_EQ(tiffOf(asPng), tiff);

    // A PNG clip from another device is offered as it is, once.
    const QByteArray fromElsewhere = png(Qt::yellow);
    const auto pngClip = PasteboardMimeData::forImageData(fromElsewhere);
    ASSERT_TRUE(pngClip);
    EXPECT_EQ(pngClip->formats(), QStringList{QStringLiteral("image/png")});
    EXPECT_EQ(pngClip->data(QStringLiteral("image/png")), fromElsewhere);

    EXPECT_EQ(PasteboardMimeData::forImageData(QByteArray("no picture")), nullptr);
    EXPECT_EQ(PasteboardMimeData::forImageData(QByteArray()), nullptr);
}

// The fake and the system pasteboard (on the offscreen platform's in-process clipboard)
// keep the same contract; each runs the same cases.
class PasteboardContract : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (std::string(GetParam()) == "fake")
            pasteboard = std::make_unique<PasteboardFake>();
        else
            pasteboard = std::make_unique<SystemPasteboard>();
    }
    std::unique_ptr<Pasteboard> pasteboard;
};

TEST_P(PasteboardContract, CountStartsAtOneAndEveryWriteMovesIt)
{
    EXPECT_EQ(pasteboard->changeCount(), 1);
    qint64 last = pasteboard->changeCount();
    const auto moved = [&] {
        const qint64 now = pasteboard->changeCount();
        const bool up = now > last;
        last = now;
        return up;
    };
    pasteboard->writeString(QStringLiteral("one"));
    EXPECT_TRUE(moved());
    pasteboard->writeString(QStringLiteral("one"));
    EXPECT_TRUE(moved()) << "the same text written again is a new change";
    pasteboard->writeImageData(tiffOf(png()));
    EXPECT_TRUE(moved());
    pasteboard->writeFileURL(QStringLiteral("/tmp/x"));
    EXPECT_TRUE(moved());
    pasteboard->clearContents();
    EXPECT_TRUE(moved());
}

TEST_P(PasteboardContract, WritesReadBackAsTheyWereMeant)
{
    pasteboard->writeString(QStringLiteral("line one\nline two \u4f60\u597d"));
    PasteboardSnapshot snapshot = pasteboard->snapshot();
    EXPECT_EQ(snapshot.itemCount(), 1);
    EXPECT_EQ(snapshot.string(), QStringLiteral("line one\nline two \u4f60\u597d"));
    EXPECT_TRUE(snapshot.fileURLs().isEmpty());

    pasteboard->writeFileURL(QStringLiteral("/tmp/previews/report.pdf"));
    snapshot = pasteboard->snapshot();
    EXPECT_EQ(localPaths(snapshot), QStringList{QStringLiteral("/tmp/previews/report.pdf")});
    EXPECT_EQ(snapshot.string(), QStringLiteral("/tmp/previews/report.pdf"));

    // An image clip written back and captured again keeps its bytes, so its hash.
    const QByteArray tiff = tiffOf(png());
    ASSERT_TRUE(pasteboard->writeImageData(tiff));
    snapshot = pasteboard->snapshot();
    EXPECT_FALSE(snapshot.string().has_value()) << "a write replaces the whole content";
    EXPECT_TRUE(snapshot.fileURLs().isEmpty());
    EXPECT_EQ(snapshot.tiffRepresentation(), tiff);

    pasteboard->clearContents();
    EXPECT_EQ(pasteboard->snapshot().itemCount(), 0);
}

TEST_P(PasteboardContract, DataThatIsNoImageEmptiesThePasteboard)
{
    pasteboard->writeString(QStringLiteral("before"));
    EXPECT_FALSE(pasteboard->writeImageData(QByteArray("no picture here")));
    EXPECT_EQ(pasteboard->snapshot().itemCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Both, PasteboardContract, ::testing::Values("fake", "system"));

TEST(SystemPasteboard, CountsChangesMadeByOtherCodeInTheProcess)
{
    SystemPasteboard pasteboard;
    QGuiApplication::clipboard()->setText(QStringLiteral("set elsewhere"));
    EXPECT_GT(pasteboard.changeCount(), 1);
    EXPECT_EQ(pasteboard.snapshot().string(), QStringLiteral("set elsewhere"));
}

TEST(SystemPasteboard, RefusesTheClipboardOffTheMainThread)
{
    SystemPasteboard pasteboard;
    pasteboard.writeString(QStringLiteral("kept"));
    const qint64 count = pasteboard.changeCount();
    PasteboardSnapshot seen;
    qint64 countSeen = 0;
    std::thread other([&] {
        seen = pasteboard.snapshot();
        pasteboard.writeString(QStringLiteral("from a worker"));
        pasteboard.clearContents();
        countSeen = pasteboard.changeCount();
    });
    other.join();
    EXPECT_EQ(seen.itemCount(), 0);
    EXPECT_EQ(countSeen, count) << "the count itself may be read anywhere";
    EXPECT_EQ(pasteboard.snapshot().string(), QStringLiteral("kept"));
}

TEST(PasteboardFake, PlaysOtherApplications)
{
    PasteboardFake fake;
    fake.offer({{QStringLiteral("text/uri-list"), "file:///tmp/a.txt"}, {QStringLiteral("text/plain"), "a.txt"}});
    EXPECT_EQ(fake.changeCount(), 2);
    const PasteboardSnapshot snapshot = fake.snapshot();
    EXPECT_EQ(localPaths(snapshot), QStringList{QStringLiteral("/tmp/a.txt")});
    EXPECT_EQ(snapshot.string(), QStringLiteral("a.txt"));
    EXPECT_EQ(fake.snapshotCount(), 1);

    fake.setChangeCount(0);
    EXPECT_EQ(fake.changeCount(), 0);
    fake.clearContents();
    EXPECT_EQ(fake.changeCount(), 1);
    fake.clearContents();
    EXPECT_EQ(fake.changeCount(), 1) << "nothing left to clear";

    fake.writeImageData(tiffOf(png()));
    EXPECT_EQ(fake.types(), (QStringList{QStringLiteral("image/tiff"), QStringLiteral("image/png")}));
}

TEST(Pasteboard, GeneralCanBeReplacedAndRestored)
{
    auto fake = std::make_shared<PasteboardFake>();
    Pasteboard::setGeneral(fake);
    EXPECT_EQ(&Pasteboard::general(), fake.get());
    Pasteboard::setGeneral(nullptr);
    EXPECT_NE(dynamic_cast<SystemPasteboard*>(&Pasteboard::general()), nullptr);
    Pasteboard::setGeneral(nullptr);
}
