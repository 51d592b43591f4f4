#include "platform/pasteboardimage.h"
#include "store/digest.h"
#include "store/dbkeeper.h"
#include "store/pathhelper.h"
#include "x11/clipx11fixture.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

#include <cstdio>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST_F(ClipX11Test, TextCopiedByAnotherClientBecomesAClip)
{
    const QString text = QStringLiteral("copied with xclip: Gr\u00fc\u00dfe \u4f60\u597d \u2713");
    ASSERT_TRUE(xclipCopy(text.toUtf8()));
    const QString hash = md5HexOfString(text);
    const HistoryModelPtr clip = waitForRow(hash);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->type(), QStringLiteral("text_txt+enc"));
    EXPECT_EQ(clip->local_file_ok().toInt(), 1);
    EXPECT_EQ(readFile(PathHelper::getBaseFilePath(hash)), text.toUtf8());

    // The same copy again is the same clip.
    const qint64 seen = watcher->lastChangedCount();
    ASSERT_TRUE(xclipCopy(text.toUtf8()));
    ASSERT_TRUE(waitForPollAfter(seen));
    watcher->waitForCaptures();
    // Counted by hash: what an earlier test's client still offers may have been captured first.
    qsizetype rows = 0;
    for (const auto& stored : DBKeeper::getAllHistory())
        rows += stored->file_hash() == hash;
    EXPECT_EQ(rows, 1);
}

TEST_F(ClipX11Test, AFileOfferedAsAUriListBecomesAFileClipWithItsZip)
{
    const QString path = testenv::home() + QStringLiteral("/Quarterly report.csv");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("quarter,revenue\nQ1,100\n");
    file.close();
    ASSERT_TRUE(xclipCopy(QUrl::fromLocalFile(path).toEncoded() + "\r\n", QStringLiteral("text/uri-list")));
    const QString hash = *md5HexOfFile(path);
    const HistoryModelPtr clip = waitForRow(hash);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->type(), QStringLiteral("file_csv+zip+enc"));
    EXPECT_EQ(clip->file_name(), QStringLiteral("Quarterly report.csv"));
    EXPECT_EQ(readFile(PathHelper::getBaseFilePath(hash)), readFile(path));
    EXPECT_TRUE(QFileInfo::exists(PathHelper::getZipsFilePath(hash)));
}

TEST_F(ClipX11Test, AUriListWrittenWithoutEscapesKeepsTheNamesBytes)
{
    // A space and a Latin-1 letter, as some programs put a path into the list unescaped.
    const QByteArray path = QFile::encodeName(testenv::home()) + "/caf\xe9 menu.txt";
    const QByteArray contents("soup of the day\n");
    {
        // A QString cannot name this file; it is written through its bytes.
        FILE* raw = std::fopen(path.constData(), "wb");
        ASSERT_TRUE(raw);
        std::fwrite(contents.constData(), 1, size_t(contents.size()), raw);
        std::fclose(raw);
    }
    ASSERT_TRUE(xclipCopy("file://" + path + "\r\n", QStringLiteral("text/uri-list")));
    const QString hash = md5HexOfData(contents);
    const HistoryModelPtr clip = waitForRow(hash);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->type(), QStringLiteral("file_txt+zip+enc"));
    EXPECT_EQ(clip->file_name(), QFile::decodeName("caf\xe9 menu.txt"));
    EXPECT_EQ(readFile(PathHelper::getBaseFilePath(hash)), contents);
}

TEST_F(ClipX11Test, APngOfferBecomesAnImageClip)
{
    QImage image(90, 60, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 2, y * 4, (x * y) & 0xff, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    ASSERT_TRUE(xclipCopy(png, QStringLiteral("image/png")));

    const QByteArray tiff = PasteboardImage::tiffRepresentation(image).value_or(QByteArray());
    ASSERT_FALSE(tiff.isEmpty());
    const HistoryModelPtr clip = waitForRow(md5HexOfData(tiff));
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->type(), QStringLiteral("image_data+zip+enc"));
    EXPECT_EQ(readFile(PathHelper::getBaseFilePath(*clip->file_hash())), tiff);
}

namespace {

// CRC-32 of a PNG chunk's type and data.
quint32 pngCrc(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

// The PNG with a gAMA chunk (gamma 1.0) after its header chunk: readers that honour it shift
// the colours they decode.
QByteArray withGamma(const QByteArray& png)
{
    QByteArray chunk("gAMA");
    const quint32 gamma = 100000;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char((gamma >> shift) & 0xff));
    QByteArray out = png.left(8 + 25);  // the signature and IHDR
    for (const quint32 value : {quint32(4), pngCrc(chunk)}) {
        QByteArray word;
        for (int shift = 24; shift >= 0; shift -= 8)
            word.append(char((value >> shift) & 0xff));
        if (value == 4)
            out += word + chunk;
        else
            out += word;
    }
    return out + png.mid(8 + 25);
}

}  // namespace

// A PNG copied and chosen again goes back as that very PNG, its gamma chunk and all, and
// another client pastes exactly those bytes.
TEST_F(ClipX11Test, ACapturedPngGoesBackAsThatPng)
{
    QImage image(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 3, y * 5, 128, 255));
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const QByteArray png = withGamma(plain);
    ASSERT_FALSE(QImage::fromData(png, "PNG").isNull());
    ASSERT_TRUE(xclipCopy(png, QStringLiteral("image/png")));
    const QString hash = md5HexOfData(PasteboardImage::tiffRepresentation(PasteboardImage::decode(png)).value_or(QByteArray()));
    const HistoryModelPtr clip = waitForRow(hash);
    ASSERT_TRUE(clip);

    // Another client takes the clipboard, then the clip is chosen again.
    ASSERT_TRUE(xclipCopy("something else"));
    ASSERT_TRUE(waitForRow(md5HexOfString(QStringLiteral("something else"))));
    watcher->sendToClipboard(clip, nullptr);
    const ClientRun pasted = xclipPaste(QStringLiteral("image/png"));
    ASSERT_TRUE(pasted.finished);
    EXPECT_EQ(pasted.output, png);
}
