#include "app/clipfixture.h"

#include "store/pathhelper.h"
#include "support/bmpheader.h"

#include <QDir>
#include <QImageReader>
#include <QtEndian>

#include <zip.h>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

// Captures of what other programs hand over: names that are no UTF-8, URI lists written
// without escapes, files that change or never end while read, pictures too large for Qt's
// default decode limit.

using namespace cliptest;

namespace {

class ClipCaptureInputTest : public ClipTest {
protected:
    void SetUp() override
    {
        ClipTest::SetUp();
        // The watcher outlives each test with the last count it acted on; counting on from
        // there, every copy here is one it has not seen.
        pasteboard->setChangeCount(watcher().lastChangedCount() + 1);
    }
};

// Writes the bytes under a path given as raw bytes (a name need not be UTF-8).
bool writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
}

QStringList leftInTmp()
{
    return QDir(PathHelper::getTmpDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// The one entry of a clip's zip.
QByteArray zipEntry(const QString& path, const QString& name)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    QByteArray content;
    zip_stat_t st;
    if (zip_stat(archive, name.toLatin1().constData(), 0, &st) == 0) {
        content.resize(qsizetype(st.size));
        zip_file_t* file = zip_fopen(archive, name.toLatin1().constData(), 0);
        if (file) {
            zip_fread(file, content.data(), st.size);
            zip_fclose(file);
        }
    }
    zip_close(archive);
    return content;
}

QSize imageSize(const QByteArray& data)
{
    QByteArray bytes = data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).size();
}

}  // namespace

TEST_F(ClipCaptureInputTest, FilesNamedInAnyBytesAndListedWithoutEscapesAreRecorded)
{
    watcher();
    const QByteArray home = QFile::encodeName(testenv::home());
    const struct {
        const char* name;
        QByteArray fileName;
        bool escaped;
    } cases[] = {
        {"spaces, listed raw", "Quarterly report 2024.csv", false},
        {"letters beyond ASCII, listed raw", "\xe6\x8a\xa5\xe5\x91\x8a \xc3\xa9t\xc3\xa9.txt", false},
        {"a Latin-1 name, escaped", "caf\xe9.txt", true},
        {"a Latin-1 name with a space, listed raw", "na\xefve list.txt", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray path = home + '/' + c.fileName;
        const QByteArray contents = "contents " + QByteArray::number(++n);
        ASSERT_TRUE(writeRaw(path, contents));
        const QByteArray line = "file://" + (c.escaped ? path.toPercentEncoding("/") : path) + "\r\n";
        pasteboard->offer({{QStringLiteral("text/uri-list"), line}, {QStringLiteral("text/plain"), c.fileName}});
        poll();
        const QString hash = md5HexOfData(contents);
        const HistoryModelPtr clip = row(hash);
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->file_name(), QFile::decodeName(c.fileName));
        EXPECT_TRUE(clip->type()->startsWith(QLatin1String("file_"))) << clip->type()->toStdString();
        EXPECT_EQ(readFile(body(hash)), contents);
    }
    EXPECT_EQ(rowCount(), n);
    EXPECT_TRUE(leftInTmp().isEmpty()) << "each copy became its body";
}

TEST_F(ClipCaptureInputTest, AFileThePrivacyScriptKeepsOutLeavesNoCopyBehind)
{
    watcher();
    usePrivacyScript(QStringLiteral("function main(from, ext, content) return -1 end\n"));
    copyFile(writeFile(QStringLiteral("payslip.pdf"), "private"));
    poll();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(QDir(PathHelper::getBaseFilePath()).isEmpty());
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(',').toStdString();
}

TEST_F(ClipCaptureInputTest, AFileEditedWhileItIsCapturedKeepsTheBytesThatWereHashed)
{
    watcher();
    const QByteArray original("the draft as it was copied\n");
    const QString path = writeFile(QStringLiteral("draft.txt"), original);
    // The privacy script runs after the file was read and before its clip is stored: it
    // edits the file right there.
    usePrivacyScript(QStringLiteral("function main(from, ext, content)\n"
                                    "  if from == 'file' then\n"
                                    "    local f = io.open(content, 'w')\n"
                                    "    f:write('edited while captured')\n"
                                    "    f:close()\n"
                                    "  end\n"
                                    "  return 0\n"
                                    "end\n"));
    copyFile(path);
    poll();
    ASSERT_EQ(readFile(path), QByteArray("edited while captured"));

    const QString hash = md5HexOfData(original);
    ASSERT_TRUE(row(hash));
    EXPECT_EQ(rowCount(), 1);
    EXPECT_EQ(readFile(body(hash)), original);
    EXPECT_EQ(zipEntry(zip(hash), hash), original);
}

TEST_F(ClipCaptureInputTest, AnEndlessFileThatReportsNoSizeIsRefusedAndCapturesGoOn)
{
    watcher();
    // Size 0 to stat, hundreds of gigabytes to read.
    copyFile(QStringLiteral("/proc/self/pagemap"));
    poll();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(QDir(PathHelper::getBaseFilePath()).isEmpty()) << "no body";
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(',').toStdString();

    copyText(QStringLiteral("the next copy"));
    poll();
    EXPECT_TRUE(row(md5HexOfString(QStringLiteral("the next copy"))));
}

TEST_F(ClipCaptureInputTest, AScreenshotBeyondQtsDefaultDecodeLimitIsCaptured)
{
    watcher();
    {
        // 6000 x 6000: 137 MiB decoded, over Qt's default 128.
        QImage screenshot(6000, 6000, QImage::Format_RGB32);
        screenshot.fill(Qt::white);
        for (int y = 0; y < screenshot.height(); y += 50)
            std::fill_n(reinterpret_cast<QRgb*>(screenshot.scanLine(y)), screenshot.width(), qRgb(0, 90, 180));
        copyImage(encoded(screenshot, "PNG"));
    }
    poll();
    const HistoryList all = DBKeeper::getAllHistory();
    ASSERT_EQ(all.size(), 1);
    const HistoryModelPtr clip = all.first();
    EXPECT_EQ(clip->type(), QStringLiteral("image_data+zip+enc"));
    const QString hash = clip->file_hash().value_or(QString());
    const QByteArray tiff = readFile(body(hash));
    EXPECT_EQ(md5HexOfData(tiff), hash);
    EXPECT_EQ(imageSize(tiff), QSize(6000, 6000));
    EXPECT_EQ(imageSize(QByteArray::fromBase64(clip->content().value_or(QString()).toLatin1())), QSize(40, 40));
}

TEST_F(ClipCaptureInputTest, AnImageThatStillCannotBeDecodedIsLoggedAndNotStored)
{
    watcher();
    historytest::LogCapture log;
    // 20000 x 20000 would take 1.5 GiB decoded.
    pasteboard->offer({{QStringLiteral("image/bmp"), bmpHeader(20000, 20000)}});
    poll();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("image not captured")));
}
