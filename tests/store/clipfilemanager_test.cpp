#include "historytestsupport.h"

#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"

#include <QDirIterator>
#include <QFile>
#include <QSaveFile>

#include <gtest/gtest.h>
#include <zip.h>

#include <sys/stat.h>

#include <atomic>
#include <thread>

using namespace historytest;

namespace {

ClipFileManager& files()
{
    return ClipFileManager::sharedInstance();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The entries of a zip file: name -> (content, compression method).
std::map<std::string, std::pair<QByteArray, int>> zipEntries(const QString& path)
{
    std::map<std::string, std::pair<QByteArray, int>> out;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), 0, &st);
        QByteArray content(qsizetype(st.size), '\0');
        zip_file_t* f = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(f, content.data(), st.size);
        zip_fclose(f);
        out[st.name] = {content, int(st.comp_method)};
    }
    zip_close(archive);
    return out;
}

HistoryModelPtr clipOf(const QString& hash, const QString& type, const QString& category = QStringLiteral("history"))
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("c"));
    clip->setFile_hash(hash);
    clip->setType(type);
    clip->setCategory(category);
    clip->setTimestamp(QVariant(1));
    clip->setHistory_id(QVariant(0));
    clip->setFile_id(QVariant(0));
    return clip;
}

// Every file and link under the home, with its content, to show that nothing else changed.
std::map<QString, QByteArray> everythingUnder(const QString& root)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        out[p] = readAll(p);
    }
    return out;
}

// The file read once, as the capture reads it.
StagedFile staged(const QString& path)
{
    auto file = StagedFile::copyOf(QFile::encodeName(path));
    EXPECT_TRUE(file) << path.toStdString();
    return std::move(file).value();
}

QByteArray compressible(int size)
{
    return QByteArray("image bytes that repeat ").repeated(size / 24 + 1).left(size);
}

}  // namespace

class ClipFiles : public HistoryDbTest {};

TEST_F(ClipFiles, ABodyIsWrittenOnceAndNeverRewritten)
{
    const QString h = md5HexOfString(QStringLiteral("hello"));
    files().saveString(QStringLiteral("hello"), h);
    const QString body = PathHelper::getBaseFilePath(h);
    EXPECT_EQ(readAll(body), "hello");
    EXPECT_EQ(files().getStringWithMd5(h), "hello");
    EXPECT_EQ(files().getDataWithMd5(h), QByteArray("hello"));

    // Whatever is there stays, as it is (same file, same bytes).
    writeFile(body, "existing");
    const ino_t inode = inodeOf(body);
    files().saveString(QStringLiteral("other"), h);
    files().saveData("more", h);
    EXPECT_EQ(readAll(body), "existing");
    EXPECT_EQ(inodeOf(body), inode);

    EXPECT_FALSE(files().getStringWithMd5(hashOf(7)));
    EXPECT_FALSE(files().getDataWithMd5(hashOf(7)));
    // No temporary files are left behind.
    EXPECT_EQ(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files), QStringList{h});
}

TEST_F(ClipFiles, TextBodiesAreReadOnlyAsValidUtf8)
{
    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<QString> text;
    } cases[] = {
        {"plain", "h\xc3\xa9llo", QString::fromUtf8("h\xc3\xa9llo")},
        {"empty", "", QString()},
        {"byte-order mark kept", "\xef\xbb\xbfx", QString(QChar(0xfeff)) + 'x'},
        {"invalid byte", "ab\xff", std::nullopt},
        {"overlong NUL", "a\xc0\x80", std::nullopt},
        {"surrogate", "\xed\xa0\x80", std::nullopt},
        {"cut off at the end", "\xe4\xbd", std::nullopt},
    };
    for (const auto& c : cases) {
        const QString h = md5HexOfData(c.bytes);
        writeFile(PathHelper::getBaseFilePath(h), c.bytes);
        const auto text = files().getStringWithMd5(h);
        EXPECT_EQ(text.has_value(), c.text.has_value()) << c.name;
        if (text && c.text) {
            EXPECT_EQ(*text, *c.text) << c.name;
        }
    }
}

TEST_F(ClipFiles, ZippedClipsTakeTheZipsSize)
{
    const QByteArray image = compressible(20000);
    const QString h = md5HexOfData(image);
    auto clip = clipOf(h, QStringLiteral("image_data+zip+enc"));
    files().saveClipData(image, *clip);

    const QString zip = PathHelper::getZipsFilePath(h);
    const qint64 zipSize = QFileInfo(zip).size();
    ASSERT_GT(zipSize, 0);
    EXPECT_LT(zipSize, image.size());
    EXPECT_EQ(clip->file_size().typeId(), QMetaType::Double);
    EXPECT_EQ(clip->file_size().toDouble(), double(zipSize));
    const auto entries = zipEntries(zip);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, h.toStdString());
    EXPECT_EQ(entries.begin()->second.first, image);
    EXPECT_EQ(entries.begin()->second.second, ZIP_CM_DEFLATE);
    EXPECT_EQ(readAll(PathHelper::getBaseFilePath(h)), image);
    EXPECT_EQ(QDir(PathHelper::getZipsFilePath()).entryList(QDir::Files), QStringList{h});

    // A zip is rewritten whole: a damaged one is replaced.
    writeFile(zip, "not a zip");
    files().saveClipData(image, *clip);
    EXPECT_EQ(zipEntries(zip).size(), 1u);

    const QByteArray text("some text");
    auto textClip = clipOf(md5HexOfData(text), QStringLiteral("text_txt+enc"));
    files().saveClipData(text, *textClip);
    EXPECT_EQ(textClip->file_size().toDouble(), double(text.size()));
    EXPECT_FALSE(QFile::exists(PathHelper::getZipsFilePath(md5HexOfData(text))));
}

TEST_F(ClipFiles, FileClipsAreCopiedAndZippedAndASecondCaptureStillGetsItsSize)
{
    const QString source = testenv::home() + QStringLiteral("/Documents/report.pdf");
    const QByteArray bytes = compressible(50000);
    writeFile(source, bytes);
    const QString h = md5HexOfData(bytes);

    auto firstCopy = staged(source);
    EXPECT_EQ(firstCopy.md5(), h);
    auto first = clipOf(h, QStringLiteral("file_pdf+zip+enc"));
    EXPECT_TRUE(files().saveClipFile(firstCopy, *first));
    EXPECT_TRUE(firstCopy.path().isEmpty()) << "the copy became the body";
    const QString body = PathHelper::getBaseFilePath(h);
    EXPECT_EQ(readAll(body), bytes);
    const double zipSize = double(QFileInfo(PathHelper::getZipsFilePath(h)).size());
    EXPECT_EQ(first->file_size().toDouble(), zipSize);
    EXPECT_EQ(zipEntries(PathHelper::getZipsFilePath(h)).at(h.toStdString()).first, bytes);

    // The same file again (the favourite copy's row): the body stays, the size is still set.
    const ino_t inode = inodeOf(body);
    auto second = clipOf(h, QStringLiteral("file_pdf+zip+enc"), QStringLiteral("favourite"));
    auto secondCopy = staged(source);
    EXPECT_TRUE(files().saveClipFile(secondCopy, *second));
    EXPECT_EQ(second->file_size().toDouble(), zipSize);
    EXPECT_EQ(inodeOf(body), inode);

    auto plain = clipOf(h, QStringLiteral("file_pdf"));
    auto plainCopy = staged(source);
    EXPECT_TRUE(files().saveClipFile(plainCopy, *plain));
    EXPECT_EQ(plain->file_size().toDouble(), double(bytes.size()));

    // A copy whose digest is not the clip's hash gives NO, stores nothing and leaves the
    // size alone.
    auto other = clipOf(hashOf(5), QStringLiteral("file_pdf+zip+enc"));
    other->setFile_size(QVariant(7.0));
    auto otherCopy = staged(source);
    EXPECT_FALSE(files().saveClipFile(otherCopy, *other));
    EXPECT_EQ(other->file_size().toDouble(), 7.0);
    EXPECT_FALSE(QFile::exists(PathHelper::getBaseFilePath(hashOf(5))));
    EXPECT_FALSE(QFile::exists(PathHelper::getZipsFilePath(hashOf(5))));
}

TEST_F(ClipFiles, TheBodyAndItsZipHoldTheBytesThatWereHashedWhateverTheSourceDoesLater)
{
    const QString source = testenv::home() + QStringLiteral("/notes.txt");
    const QByteArray before = compressible(30000);
    writeFile(source, before);
    auto copy = staged(source);
    const QString h = copy.md5();
    EXPECT_EQ(h, md5HexOfData(before));
    EXPECT_EQ(copy.size(), before.size());

    // The file is edited after it was read, before its clip is stored.
    writeFile(source, "edited meanwhile");
    auto clip = clipOf(h, QStringLiteral("file_txt+zip+enc"));
    ASSERT_TRUE(files().saveClipFile(copy, *clip));
    EXPECT_EQ(md5HexOfData(readAll(PathHelper::getBaseFilePath(h))), h);
    EXPECT_EQ(zipEntries(PathHelper::getZipsFilePath(h)).at(h.toStdString()).first, before);
}

TEST_F(ClipFiles, HashesThatAreNotDigestsAreRefusedEverywhere)
{
    const QString outside = testenv::home() + QStringLiteral("/Library/x");
    writeFile(outside, "keep me");
    writeFile(PathHelper::getBaseAppLibraryPath(QStringLiteral("x")), "keep me too");
    const QString source = testenv::home() + QStringLiteral("/source.txt");
    writeFile(source, "source");
    const auto before = everythingUnder(testenv::home());

    const QString nul = QStringLiteral("0123456789abcdef0123456789abcde") + QChar(u'\0');
    for (const QString& bad : {QStringLiteral("../x"), QStringLiteral("../../Library/x"), QStringLiteral(""),
                               QStringLiteral("0123456789ABCDEF0123456789ABCDEF"),
                               QStringLiteral("0123456789abcdef0123456789abcde"),
                               QStringLiteral("0123456789abcdef0123456789abcdef0"),
                               QStringLiteral("0123456789abcdef/123456789abcdef"), nul}) {
        SCOPED_TRACE(bad.toStdString());
        files().saveString(QStringLiteral("x"), bad);
        files().saveData("x", bad);
        auto clip = clipOf(bad, QStringLiteral("image_data+zip+enc"));
        clip->setFile_name(QStringLiteral("x"));
        clip->setKey_hash(QStringLiteral("k"));
        files().saveClipData("x", *clip);
        EXPECT_EQ(clip->file_size().toDouble(), 0.0);
        auto copy = staged(source);
        EXPECT_FALSE(files().saveClipFile(copy, *clip));
        EXPECT_FALSE(files().getStringWithMd5(bad));
        EXPECT_FALSE(files().getDataWithMd5(bad));
        EXPECT_FALSE(files().isHistoryFileExist(*clip));
        EXPECT_TRUE(files().makePreviewLink(*clip).isEmpty());
        files().deleteZipfileWithName(bad);
        files().deleteFilesWithHistoryArray({clip});
    }
    EXPECT_EQ(everythingUnder(testenv::home()), before);
}

TEST_F(ClipFiles, PreviewNameIsTheFileNamesLastComponent)
{
    const QString h = hashOf(1);
    const QString nul = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
    const struct {
        std::optional<QString> fileName;
        QString preview;
    } cases[] = {
        {QStringLiteral("report.pdf"), QStringLiteral("report.pdf")},
        {QStringLiteral("../../etc/passwd"), QStringLiteral("passwd")},
        {QStringLiteral("/abs/path/a b.txt"), QStringLiteral("a b.txt")},
        {QStringLiteral("dir/"), h},
        {QStringLiteral(""), h},
        {QStringLiteral("."), h},
        {QStringLiteral(".."), h},
        {QStringLiteral("x/.."), h},
        {nul, h},
        {std::nullopt, h},
    };
    for (const auto& c : cases) {
        auto clip = clipOf(h, QStringLiteral("file_txt+zip+enc"));
        clip->setFile_name(c.fileName);
        EXPECT_EQ(ClipFileManager::previewName(*clip), c.preview) << c.fileName.value_or("(none)").toStdString();
        EXPECT_EQ(files().makePreviewLink(*clip), PathHelper::getPreviewsFilePath(c.preview));
    }
}

TEST_F(ClipFiles, StalePreviewLinksAreMadeAgain)
{
    const QByteArray bytes("file body");
    const QString h = md5HexOfData(bytes);
    files().saveData(bytes, h);
    auto clip = clipOf(h, QStringLiteral("file_txt+zip+enc"));
    clip->setFile_name(QStringLiteral("notes.txt"));
    const QString body = PathHelper::getBaseFilePath(h);

    const QString link = files().makePreviewLink(*clip);
    EXPECT_EQ(link, PathHelper::getPreviewsFilePath(QStringLiteral("notes.txt")));
    EXPECT_EQ(inodeOf(link), inodeOf(body));
    EXPECT_EQ(files().makePreviewLink(*clip), link);
    EXPECT_EQ(inodeOf(link), inodeOf(body));

    // A download put a new file in the body's place.
    QSaveFile replacement(body);
    ASSERT_TRUE(replacement.open(QIODevice::WriteOnly));
    replacement.write(bytes);
    ASSERT_TRUE(replacement.commit());
    ASSERT_NE(inodeOf(link), inodeOf(body));
    files().makePreviewLink(*clip);
    EXPECT_EQ(inodeOf(link), inodeOf(body));

    // A symbolic link planted in its place is replaced, and what it pointed at is untouched.
    const QString elsewhere = testenv::home() + QStringLiteral("/elsewhere.txt");
    writeFile(elsewhere, "mine");
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(elsewhere, link));
    files().makePreviewLink(*clip);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(inodeOf(link), inodeOf(body));
    EXPECT_EQ(readAll(elsewhere), "mine");

    // Without a body the path is still given.
    QFile::remove(body);
    EXPECT_EQ(files().makePreviewLink(*clip), link);
    EXPECT_FALSE(QFile::exists(link));
}

TEST_F(ClipFiles, AFavouriteTwinKeepsTheFilesUntilBothRowsAreGone)
{
    const QByteArray bytes = compressible(3000);
    const QString h = md5HexOfData(bytes);
    auto history = clipOf(h, QStringLiteral("file_bin+zip+enc"));
    history->setFile_name(QStringLiteral("data.bin"));
    history->setKey_hash(QStringLiteral("K"));
    auto favourite = history->copy();
    favourite->setCategory(QStringLiteral("favourite"));
    files().saveClipData(bytes, *history);
    history->save();
    favourite->save();
    const QString preview = files().makePreviewLink(*history);
    const QString encrypted = PathHelper::getEncFilePath(*history->encryptFileName());
    writeFile(encrypted, "sealed");
    const QStringList all{PathHelper::getBaseFilePath(h), PathHelper::getZipsFilePath(h), preview, encrypted};
    for (const QString& p : all)
        ASSERT_TRUE(QFile::exists(p)) << p.toStdString();

    DBKeeper::deleteClipItem(h, QStringLiteral("history"));
    files().deleteFilesWithHistoryArray({history});
    for (const QString& p : all)
        EXPECT_TRUE(QFile::exists(p)) << p.toStdString();

    DBKeeper::deleteClipItem(h, QStringLiteral("favourite"));
    files().deleteFilesWithHistoryArray({favourite});
    for (const QString& p : all)
        EXPECT_FALSE(QFile::exists(p)) << p.toStdString();
}

TEST_F(ClipFiles, ZipAndPreviewOfAHashAreRemovedByName)
{
    const QString h = hashOf(3);
    writeFile(PathHelper::getZipsFilePath(h), "zip");
    writeFile(PathHelper::getPreviewsFilePath(h), "preview");
    writeFile(PathHelper::getBaseFilePath(h), "body");
    files().deleteZipfileWithName(h);
    EXPECT_FALSE(QFile::exists(PathHelper::getZipsFilePath(h)));
    EXPECT_FALSE(QFile::exists(PathHelper::getPreviewsFilePath(h)));
    EXPECT_TRUE(QFile::exists(PathHelper::getBaseFilePath(h)));
}

TEST_F(ClipFiles, SizesAndExistence)
{
    const QString path = testenv::home() + QStringLiteral("/five");
    writeFile(path, "12345");
    EXPECT_EQ(files().fileSize(path), 5.0f);
    EXPECT_EQ(files().fileSize(path + "-missing"), 0.0f);
    EXPECT_TRUE(files().isExist(path));
    EXPECT_TRUE(files().isExist(testenv::home()));
    EXPECT_FALSE(files().isExist(path + "-missing"));
    EXPECT_FALSE(files().isExist(QString()));
}

TEST_F(ClipFiles, FoldersAreMadeAgainAfterTheLibraryWasRemoved)
{
    const QByteArray bytes = compressible(100);
    const QString h = md5HexOfData(bytes);
    QDir(libraryDir()).removeRecursively();
    auto clip = clipOf(h, QStringLiteral("image_data+zip+enc"));
    files().saveClipData(bytes, *clip);
    EXPECT_EQ(readAll(PathHelper::getBaseFilePath(h)), bytes);
    EXPECT_GT(clip->file_size().toDouble(), 0.0);

    QDir(libraryDir()).removeRecursively();
    files().saveString(QStringLiteral("t"), md5HexOfString(QStringLiteral("t")));
    EXPECT_EQ(files().getStringWithMd5(md5HexOfString(QStringLiteral("t"))), "t");
    QDir(libraryDir()).removeRecursively();
    files().saveData(bytes, h);
    EXPECT_EQ(inodeOf(files().makePreviewLink(*clip)), inodeOf(PathHelper::getBaseFilePath(h)));
}

// A capture finds the body of its hash present and then stores its row, while a delete of
// the same hash, whose rows are gone, checks the rows and removes the body. Under the store's
// lock the delete waits for the capture, sees the new row and keeps the body.
TEST_F(ClipFiles, CaptureAndDeleteOfOneHashDoNotInterleave)
{
    const QByteArray bytes("racing body");
    const QString h = md5HexOfData(bytes);
    auto clip = clipOf(h, QStringLiteral("text_txt+enc"));
    files().saveData(bytes, h);  // left by a clip whose rows were just deleted
    HistoryModel::initialize();

    std::atomic<bool> deleteStarted{false};
    std::atomic<bool> deleteDone{false};
    std::thread deleter;
    {
        QMutexLocker lock(&ClipFileManager::bodyLock());
        files().saveClipData(bytes, *clip);  // the body is there: not written again
        deleter = std::thread([&] {
            deleteStarted = true;
            files().deleteFilesWithHistoryArray({clip});
            deleteDone = true;
        });
        // The delete is under way (its first step is the lock) before the row is stored;
        // without the lock it would find no row and remove the body meanwhile.
        EXPECT_TRUE(testenv::waitUntil([&] { return deleteStarted.load(); }));
        EXPECT_FALSE(deleteDone.load());
        clip->save();
    }
    deleter.join();
    EXPECT_TRUE(clip->isExist());
    EXPECT_TRUE(files().isHistoryFileExist(*clip));
}
