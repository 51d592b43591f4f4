#include "store/clipfilemanager.h"

#include "store/dbkeeper.h"
#include "store/cliptype.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "store/utils.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringDecoder>

#include <spdlog/spdlog.h>
#include <zip.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isHash(const std::optional<QString>& hash)
{
    return hash && isValidFileHash(*hash);
}

bool writeAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void removeFile(const QString& path)
{
    if (!path.isEmpty())
        QFile::remove(path);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size;
}

bool hardLink(const QString& source, const QString& link)
{
    return ::link(QFile::encodeName(source).constData(), QFile::encodeName(link).constData()) == 0;
}

}  // namespace

ClipFileManager& ClipFileManager::sharedInstance()
{
    static ClipFileManager instance;
    return instance;
}

QRecursiveMutex& ClipFileManager::bodyLock()
{
    static QRecursiveMutex lock;
    return lock;
}

bool ClipFileManager::isExist(const QString& path) const
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

void ClipFileManager::saveString(const QString& text, const QString& md5)
{
    // The part the hash names; a tail after a NUL would give the body another digest.
    saveData(textUpToNul(text).toUtf8(), md5);
}

void ClipFileManager::saveData(const QByteArray& data, const QString& md5)
{
    if (!isValidFileHash(md5))
        return;
    QMutexLocker lock(&bodyLock());
    const QString path = PathHelper::getBaseFilePath(md5);
    if (QFileInfo::exists(path))
        return;  // already holds these bytes: its name is their digest
    if (!writeAtomically(path, data))
        spdlog::warn("could not write the body {}", md5.toStdString());
}

void ClipFileManager::saveClipData(const QByteArray& data, HistoryModel& clip)
{
    if (!isHash(clip.file_hash()))
        return;
    const QString hash = *clip.file_hash();
    QMutexLocker lock(&bodyLock());
    saveData(data, hash);
    if (ClipType::parse(clip.type()).zipped()) {
        writeZip(hash, &data, nullptr);
        clip.setFile_size(QVariant(double(fileSize(PathHelper::getZipsFilePath(hash)))));
    } else {
        clip.setFile_size(QVariant(double(data.size())));
    }
}

bool ClipFileManager::saveClipFile(StagedFile& file, HistoryModel& clip)
{
    if (!isHash(clip.file_hash()))
        return false;
    const QString hash = *clip.file_hash();
    if (file.md5() != hash) {
        spdlog::warn("file body {} refused: the copy's digest is {}", hash.toStdString(), file.md5().toStdString());
        return false;
    }
    QMutexLocker lock(&bodyLock());
    const QString body = PathHelper::getBaseFilePath(hash);
    // A body already here came from the same bytes (the other category's row keeps it);
    // the new row still needs its zip and its size.
    if (!QFileInfo::exists(body) && !file.moveTo(body))
        return false;
    if (ClipType::parse(clip.type()).zipped()) {
        // From the body, never the source again: it may have changed since it was read.
        if (!writeZip(hash, nullptr, &body))
            return false;
        clip.setFile_size(QVariant(double(fileSize(PathHelper::getZipsFilePath(hash)))));
        return true;
    }
    clip.setFile_size(QVariant(double(file.size())));
    return true;
}

bool ClipFileManager::writeZip(const QString& hash, const QByteArray* data, const QString* sourcePath)
{
    const QString target = PathHelper::getZipsFilePath(hash);
    const QString temporary =
        target + QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    int error = 0;
    zip_t* archive = zip_open(temporaryName.constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!archive) {
        spdlog::warn("could not create the zip of {} (libzip error {})", hash.toStdString(), error);
        return false;
    }
    const QByteArray source = sourcePath ? QFile::encodeName(*sourcePath) : QByteArray();
    zip_source_t* entry = data ? zip_source_buffer(archive, data->constData(), zip_uint64_t(data->size()), 0)
                               : zip_source_file(archive, source.constData(), 0, -1);
    bool ok = entry != nullptr;
    zip_int64_t index = -1;
    if (ok) {
        index = zip_file_add(archive, hash.toLatin1().constData(), entry, ZIP_FL_OVERWRITE);
        if (index < 0)
            zip_source_free(entry);
        ok = index >= 0;
    }
    // The fastest deflate level: zipping sits on every image and file capture, and most file
    // bodies are compressed already, so higher levels cost several times the time for little.
    ok = ok && zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 1) == 0;
    if (ok && zip_close(archive) == 0) {
        if (std::rename(temporaryName.constData(), QFile::encodeName(target).constData()) == 0)
            return true;
    } else {
        spdlog::warn("could not write the zip of {}: {}", hash.toStdString(), zip_strerror(archive));
        zip_discard(archive);
    }
    QFile::remove(temporary);
    return false;
}

std::optional<QString> ClipFileManager::getStringWithMd5(const QString& md5) const
{
    const auto data = getDataWithMd5(md5);
    if (!data)
        return std::nullopt;
    // Stateless, so bytes cut off in the middle of a character are an error too; a leading
    // byte-order mark is part of the text.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> ClipFileManager::getDataWithMd5(const QString& md5) const
{
    if (!isValidFileHash(md5))
        return std::nullopt;
    QFile file(PathHelper::getBaseFilePath(md5));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

bool ClipFileManager::isHistoryFileExist(const HistoryModel& clip) const
{
    if (!isHash(clip.file_hash()))
        return false;
    return QFileInfo::exists(PathHelper::getBaseFilePath(*clip.file_hash()));
}

float ClipFileManager::fileSize(const QString& path) const
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return 0.0f;
    return float(info.size());
}

QString ClipFileManager::previewName(const HistoryModel& clip)
{
    const QString hash = clip.file_hash().value_or(QString());
    const QString name = clip.file_name().value_or(QString());
    const QString last = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    return PathHelper::isSafeComponent(last) ? last : hash;
}

void ClipFileManager::deleteFilesWithHistoryArray(const HistoryList& clips)
{
    QMutexLocker lock(&bodyLock());
    for (const HistoryModelPtr& clip : clips) {
        if (!clip || !isHash(clip->file_hash()))
            continue;
        const QString hash = *clip->file_hash();
        // A favourite copy keeps the body of a deleted history clip, and the other way round.
        if (DBKeeper::historyExist(hash))
            continue;
        removeFile(PathHelper::getBaseFilePath(hash));
        removeFile(PathHelper::getZipsFilePath(hash));
        removeFile(PathHelper::getPreviewsFilePath(previewName(*clip)));
        if (const auto encrypted = clip->encryptFileName())
            removeFile(PathHelper::getEncFilePath(*encrypted));
    }
}

void ClipFileManager::deleteZipfileWithName(const QString& name)
{
    if (!isValidFileHash(name))
        return;
    QMutexLocker lock(&bodyLock());
    removeFile(PathHelper::getZipsFilePath(name));
    removeFile(PathHelper::getPreviewsFilePath(name));
}

QString ClipFileManager::makePreviewLink(const HistoryModel& clip)
{
    if (!isHash(clip.file_hash()))
        return QString();
    const QString source = PathHelper::getBaseFilePath(*clip.file_hash());
    const QString link = PathHelper::getPreviewsFilePath(previewName(clip));
    if (link.isEmpty())
        return QString();
    QMutexLocker lock(&bodyLock());
    const QByteArray linkName = QFile::encodeName(link);
    struct stat linkInfo {};
    // lstat: a symbolic link planted here is replaced, never followed.
    if (::lstat(linkName.constData(), &linkInfo) != 0) {
        hardLink(source, link);
        return link;
    }
    struct stat sourceInfo {};
    const bool sourceThere = ::stat(QFile::encodeName(source).constData(), &sourceInfo) == 0;
    if (!sourceThere || !sameFile(sourceInfo, linkInfo)) {
        QFile::remove(link);
        hardLink(source, link);
    }
    return link;
}
