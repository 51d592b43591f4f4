#include "app/clipdownloadshelper.h"
#include "platform/downloadsignal.h"
#include "store/clipfilemanager.h"
#include "store/digest.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QByteArray imageBytes(const char* format)
{
    // Qt reads GIF but does not write it: a 1x1 image made by hand.
    if (QByteArray(format) == "GIF")
        return QByteArray::fromHex("47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b");
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

HistoryModelPtr storedClip(const QString& type, const QByteArray& body, const std::optional<QString>& fileName = {})
{
    auto clip = std::make_shared<HistoryModel>();
    const QString hash = md5HexOfData(body);
    ClipFileManager::sharedInstance().saveData(body, hash);
    clip->setFile_hash(hash);
    clip->setType(type);
    clip->setFile_name(fileName);
    clip->setContent(fileName.value_or(QStringLiteral("x")));
    return clip;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SaveToDownloads : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Nothing announced before this test reaches it.
        ASSERT_TRUE(testenv::waitForMainQueue());
        QObject::connect(&DownloadSignal::sharedInstance(), &DownloadSignal::downloadFileFinished, &receiver,
                         [this](const QString& path) { announced << path; });
    }
    QString downloads() const { return testenv::home() + QStringLiteral("/Downloads"); }

    QObject receiver;
    QStringList announced;
};

}  // namespace

TEST_F(SaveToDownloads, ImagesByTheirFormatTiffAsJpegUnknownBytesNotAtAll)
{
    const struct {
        const char* format;  // nullptr: bytes of no image format
        QString extension;
    } cases[] = {{"TIFF", QStringLiteral("jpg")}, {"PNG", QStringLiteral("png")}, {"GIF", QStringLiteral("gif")},
                 {"JPEG", QStringLiteral("jpg")}, {nullptr, QString()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format ? c.format : "no format");
        announced.clear();
        const QByteArray body = c.format ? imageBytes(c.format) : QByteArray("plain bytes, no image");
        const HistoryModelPtr clip = storedClip(QStringLiteral("image_data+zip+enc"), body);
        const std::optional<QString> path = ClipDownloadsHelper::saveToDownloads(*clip);
        if (!c.format) {
            EXPECT_FALSE(path);
            ASSERT_TRUE(testenv::waitForMainQueue());
            EXPECT_TRUE(announced.isEmpty());
            continue;
        }
        const QString expected = downloads() + QLatin1Char('/') + *clip->file_hash() + QLatin1Char('.') + c.extension;
        ASSERT_EQ(path, expected);
        const QByteArray written = readFile(expected);
        if (QByteArray(c.format) == "TIFF") {
            EXPECT_TRUE(written.startsWith("\xFF\xD8"));
            EXPECT_FALSE(QImage::fromData(written, "JPEG").isNull());
        } else {
            EXPECT_EQ(written, body);
        }
        ASSERT_TRUE(testenv::waitUntil([&] { return announced.size() == 1; }));
        EXPECT_EQ(announced.front(), expected);
    }
    // Saving an image again replaces the file.
    const HistoryModelPtr png = storedClip(QStringLiteral("image_data"), imageBytes("PNG"));
    EXPECT_TRUE(ClipDownloadsHelper::saveToDownloads(*png));
    EXPECT_TRUE(ClipDownloadsHelper::saveToDownloads(*png));
}

TEST_F(SaveToDownloads, AFileIsCopiedOnceUnderItsOwnNameAndNeverReplaced)
{
    const HistoryModelPtr clip = storedClip(QStringLiteral("file_pdf+zip+enc"), "%PDF-1.4 body",
                                            QStringLiteral("report.pdf"));
    const std::optional<QString> first = ClipDownloadsHelper::saveToDownloads(*clip);
    ASSERT_EQ(first, downloads() + QStringLiteral("/report.pdf"));
    EXPECT_EQ(readFile(*first), QByteArray("%PDF-1.4 body"));
    ASSERT_TRUE(testenv::waitUntil([&] { return announced.size() == 1; }));

    EXPECT_FALSE(ClipDownloadsHelper::saveToDownloads(*clip));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(announced.size(), 1);
    EXPECT_EQ(readFile(*first), QByteArray("%PDF-1.4 body"));
}

TEST_F(SaveToDownloads, AFileNameNeverLeadsOutOfDownloads)
{
    const struct {
        std::optional<QString> fileName;
        QString savedAs;  // empty: the file_hash
    } cases[] = {
        {QStringLiteral("../../escape.txt"), QStringLiteral("escape.txt")},
        {QStringLiteral("/etc/passwd"), QStringLiteral("passwd")},
        {QStringLiteral(".."), QString()},
        {QStringLiteral("."), QString()},
        {QString(), QString()},
        {std::nullopt, QString()},
    };
    int n = 0;
    for (const auto& c : cases) {
        const HistoryModelPtr clip = storedClip(QStringLiteral("file_txt"), QByteArray("body ") + QByteArray::number(++n),
                                                c.fileName);
        const QString name = c.savedAs.isEmpty() ? *clip->file_hash() : c.savedAs;
        EXPECT_EQ(ClipDownloadsHelper::saveToDownloads(*clip), downloads() + QLatin1Char('/') + name)
            << c.fileName.value_or(QStringLiteral("(none)")).toStdString();
    }
    EXPECT_FALSE(QFile::exists(testenv::home() + QStringLiteral("/escape.txt")));
    // Everything written is directly in Downloads.
    EXPECT_EQ(QDir(downloads()).entryList(QDir::Files).size(), 6);
}

TEST_F(SaveToDownloads, OtherKindsAndMissingBodiesSaveNothing)
{
    const HistoryModelPtr text = storedClip(QStringLiteral("text_txt"), "hello");
    EXPECT_FALSE(ClipDownloadsHelper::saveToDownloads(*text));
    auto missing = std::make_shared<HistoryModel>();
    missing->setType(QStringLiteral("image_data"));
    missing->setFile_hash(md5HexOfString(QStringLiteral("nothing stored")));
    EXPECT_FALSE(ClipDownloadsHelper::saveToDownloads(*missing));
    missing->setType(QStringLiteral("file_txt"));
    EXPECT_FALSE(ClipDownloadsHelper::saveToDownloads(*missing));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(announced.isEmpty());
}
