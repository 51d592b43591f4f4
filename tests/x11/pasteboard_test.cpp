#include "platform/pasteboardimage.h"
#include "platform/linux/systempasteboard.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

QImage picture()
{
    QImage image(120, 80, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 2, y * 3, (x ^ y) & 0xff, x < 10 ? 90 : 255));
    return image;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray clipTiff()
{
    return PasteboardImage::tiffRepresentation(picture()).value_or(QByteArray());
}

bool waitForChange(const Pasteboard& pasteboard, qint64 from)
{
    return testenv::waitUntil([&] { return pasteboard.changeCount() > from; });
}

QStringList localPaths(const PasteboardSnapshot& snapshot)
{
    QStringList paths;
    for (const QUrl& url : snapshot.fileURLs())
        paths.append(url.toLocalFile());
    return paths;
}

class PasteboardX11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")); }
    SystemPasteboard pasteboard;
};

}  // namespace

TEST_F(PasteboardX11, ReadsTextCopiedByAnotherClientAndCountsEachCopy)
{
    qint64 count = pasteboard.changeCount();
    for (const QString& text : {QStringLiteral("first copy"), QStringLiteral("Gr\u00fc\u00dfe \u4f60\u597d \u2713")}) {
        ASSERT_TRUE(xclipCopy(text.toUtf8()));
        ASSERT_TRUE(waitForChange(pasteboard, count)) << text.toStdString();
        count = pasteboard.changeCount();
        const PasteboardSnapshot snapshot = pasteboard.snapshot();
        EXPECT_EQ(snapshot.itemCount(), 1);
        EXPECT_EQ(snapshot.string(), text);
        EXPECT_TRUE(snapshot.fileURLs().isEmpty());
        EXPECT_FALSE(snapshot.hasImage());
    }
}

TEST_F(PasteboardX11, ReadsFilesOfferedByFileManagers)
{
    const QString path = testenv::home() + QStringLiteral("/Quarterly report \u00e9t\u00e9.pdf");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4");
    file.close();
    const QByteArray url = QUrl::fromLocalFile(path).toEncoded();

    const struct {
        QString target;
        QByteArray data;
    } offers[] = {
        {QStringLiteral("text/uri-list"), url + "\r\n"},
        {QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url},
    };
    for (const auto& offer : offers) {
        SCOPED_TRACE(offer.target.toStdString());
        const qint64 count = pasteboard.changeCount();
        ASSERT_TRUE(xclipCopy(offer.data, offer.target));
        ASSERT_TRUE(waitForChange(pasteboard, count));
        const PasteboardSnapshot snapshot = pasteboard.snapshot();
        EXPECT_EQ(snapshot.types(), QStringList{offer.target});
        EXPECT_EQ(localPaths(snapshot), QStringList{path});
    }
}

TEST_F(PasteboardX11, ReadsAPngOfferAsTheClipsTiff)
{
    const qint64 count = pasteboard.changeCount();
    ASSERT_TRUE(xclipCopy(encode(picture(), "PNG"), QStringLiteral("image/png")));
    ASSERT_TRUE(waitForChange(pasteboard, count));
    const PasteboardSnapshot snapshot = pasteboard.snapshot();
    EXPECT_FALSE(snapshot.string().has_value());
    ASSERT_TRUE(snapshot.hasImage());
    EXPECT_EQ(snapshot.tiffRepresentation(), clipTiff());
}

TEST_F(PasteboardX11, OtherClientsReadWhatWeWrite)
{
    const QString text = QStringLiteral("written back \u00e4\u00f6\u00fc \u2713\nsecond line");
    pasteboard.writeString(text);
    EXPECT_EQ(QString::fromUtf8(xclipPaste().output), text);
    const QByteArray targets = xclipPaste(QStringLiteral("TARGETS")).output;
    EXPECT_TRUE(targets.contains("UTF8_STRING")) << targets.constData();

    const QString path = QStringLiteral("/tmp/previews/report 2.pdf");
    pasteboard.writeFileURL(path);
    EXPECT_EQ(xclipPaste(QStringLiteral("text/uri-list")).output, "file:///tmp/previews/report%202.pdf\r\n");
    EXPECT_EQ(xclipPaste(QStringLiteral("x-special/gnome-copied-files")).output,
              "copy\nfile:///tmp/previews/report%202.pdf");
    EXPECT_EQ(QString::fromUtf8(xclipPaste().output), path);

    const QByteArray tiff = clipTiff();
    ASSERT_TRUE(pasteboard.writeImageData(tiff));
    const QList<QByteArray> imageTargets = xclipPaste(QStringLiteral("TARGETS")).output.split('\n');
    EXPECT_TRUE(imageTargets.contains("image/tiff"));
    EXPECT_TRUE(imageTargets.contains("image/png"));
    EXPECT_FALSE(imageTargets.contains("UTF8_STRING")) << "a write replaces the whole content";
    EXPECT_EQ(xclipPaste(QStringLiteral("image/tiff")).output, tiff);
    const QByteArray png = xclipPaste(QStringLiteral("image/png")).output;
    EXPECT_EQ(PasteboardImage::mimeTypeOf(png), QStringLiteral("image/png"));
    EXPECT_EQ(PasteboardImage::decode(png).convertToFormat(QImage::Format_ARGB32_Premultiplied),
              picture().convertToFormat(QImage::Format_ARGB32_Premultiplied));

    // A client asking for text while an image is on the clipboard is refused at once (xclip
    // says so and fails), not told the data is there and left to wait for it.
    for (const QString& target : {QStringLiteral("UTF8_STRING"), QStringLiteral("STRING"), QStringLiteral("text/html")}) {
        SCOPED_TRACE(target.toStdString());
        const ClientRun asked = xclipPaste(target);
        EXPECT_TRUE(asked.finished);
        EXPECT_NE(asked.exitCode, 0);
        EXPECT_TRUE(asked.output.isEmpty());
    }
    EXPECT_EQ(xclipPaste(QStringLiteral("image/tiff")).output, tiff) << "what it has is still given";
}

TEST_F(PasteboardX11, AnImageWrittenBackAndCopiedAgainKeepsItsBytes)
{
    const QByteArray tiff = clipTiff();
    ASSERT_TRUE(pasteboard.writeImageData(tiff));
    EXPECT_EQ(pasteboard.snapshot().tiffRepresentation(), tiff) << "read back while we own it";

    // A PNG-only client pastes it and copies it again; so does one that keeps the TIFF.
    const QByteArray png = xclipPaste(QStringLiteral("image/png")).output;
    const QByteArray asTiff = xclipPaste(QStringLiteral("image/tiff")).output;
    for (const auto& [target, data] : {std::pair{QStringLiteral("image/png"), png},
                                       std::pair{QStringLiteral("image/tiff"), asTiff}}) {
        SCOPED_TRACE(target.toStdString());
        const qint64 count = pasteboard.changeCount();
        ASSERT_TRUE(xclipCopy(data, target));
        ASSERT_TRUE(waitForChange(pasteboard, count));
        EXPECT_EQ(pasteboard.snapshot().tiffRepresentation(), tiff);
    }
}

TEST_F(PasteboardX11, ClearingGivesUpTheClipboard)
{
    pasteboard.writeString(QStringLiteral("soon gone"));
    const qint64 count = pasteboard.changeCount();
    pasteboard.clearContents();
    EXPECT_GT(pasteboard.changeCount(), count);
    const ClientRun paste = xclipPaste();
    EXPECT_TRUE(paste.finished);
    EXPECT_NE(paste.exitCode, 0);
    EXPECT_TRUE(paste.output.isEmpty());
    EXPECT_EQ(pasteboard.snapshot().itemCount(), 0);

    EXPECT_FALSE(pasteboard.writeImageData(QByteArray("no picture")));
    EXPECT_EQ(pasteboard.snapshot().itemCount(), 0);
}
