#include "store/digest.h"
#include "store/pathhelper.h"
#include "store/stagedfile.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The clip body limit, written out so the test pins it.
constexpr qint64 kLimit = 5767168;

QByteArray pathBytes(const QString& path)
{
    return QFile::encodeName(path);
}

// Writes the bytes under a name given as raw bytes (it need not be UTF-8).
bool writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList leftInTmp()
{
    return QDir(PathHelper::getTmpDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

TEST(StagedFile, CopiesTheBytesWithTheirDigestAndRemovesTheCopyWithItself)
{
    const QByteArray home = pathBytes(testenv::home());
    QByteArray big(int(kLimit), '\0');
    for (int i = 0; i < big.size(); i += 4096)
        big[i] = char(i / 4096);
    const struct {
        const char* name;
        QByteArray path;
        QByteArray bytes;
    } cases[] = {
        {"small", home + "/notes.txt", "a few words"},
        {"empty", home + "/empty", ""},
        {"exactly the limit", home + "/big.bin", big},
        {"a name that is no UTF-8", home + "/caf\xe9 \xff.txt", "latin-1 name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeRaw(c.path, c.bytes));
        QString copyPath;
        {
            auto staged = StagedFile::copyOf(c.path);
            ASSERT_TRUE(staged);
            EXPECT_EQ(staged->md5(), md5HexOfData(c.bytes));
            EXPECT_EQ(staged->size(), c.bytes.size());
            copyPath = staged->path();
            EXPECT_EQ(readAll(copyPath), c.bytes);
        }
        EXPECT_FALSE(QFile::exists(copyPath)) << "the copy goes with the object";
    }
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(',').toStdString();
}

TEST(StagedFile, MovingTheCopyKeepsItAndAMovedFromObjectOwnsNothing)
{
    const QString source = testenv::home() + QStringLiteral("/source.txt");
    ASSERT_TRUE(writeRaw(pathBytes(source), "contents"));
    auto staged = StagedFile::copyOf(pathBytes(source));
    ASSERT_TRUE(staged);
    StagedFile owner = std::move(*staged);
    EXPECT_TRUE(staged->path().isEmpty());
    const QString destination = PathHelper::getBaseFilePath(owner.md5());
    ASSERT_TRUE(owner.moveTo(destination));
    EXPECT_TRUE(owner.path().isEmpty());
    EXPECT_FALSE(owner.moveTo(destination)) << "nothing left to move";
    EXPECT_EQ(readAll(destination), QByteArray("contents"));
    EXPECT_TRUE(leftInTmp().isEmpty());
}

TEST(StagedFile, RefusesWhatIsNoRegularFileOrHoldsMoreThanTheLimit)
{
    const QByteArray home = pathBytes(testenv::home());
    ASSERT_TRUE(writeRaw(home + "/over.bin", QByteArray(int(kLimit) + 1, 'x')));
    ASSERT_EQ(::mkfifo((home + "/pipe").constData(), 0600), 0);
    const struct {
        const char* name;
        QByteArray path;
    } cases[] = {
        {"one byte over the limit", home + "/over.bin"},
        // Reports a size of 0 and reads on for hundreds of gigabytes: refused once the limit
        // is passed, not after reading all of it.
        {"endless file reporting no size", "/proc/self/pagemap"},
        {"a FIFO (opening it would wait for a writer)", home + "/pipe"},
        {"a device", "/dev/zero"},
        {"a folder", home},
        {"missing", home + "/absent"},
        {"empty path", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(StagedFile::copyOf(c.path));
    }
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(',').toStdString();
}
