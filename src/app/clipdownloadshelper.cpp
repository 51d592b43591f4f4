#include "app/clipdownloadshelper.h"

#include "app/clipcontroller.h"
#include "app/clipkindtable.h"
#include "platform/downloadsignal.h"
#include "store/clipfilemanager.h"
#include "store/digest.h"
#include "store/utils.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>

#include <spdlog/spdlog.h>

QString ClipDownloadsHelper::downloadsFolder()
{
    const QString folder = QDir::homePath() + QStringLiteral("/Downloads");
    QDir().mkpath(folder);
    return folder;
}

std::optional<QString> ClipDownloadsHelper::saveToDownloads(const HistoryModel& clip)
{
    const std::optional<ClipBody> body = clipBodyOf(clip.type());
    if (!body)
        return std::nullopt;
    std::optional<QString> path;
    switch (*body) {
    case ClipBody::Image: path = saveImage(clip, downloadsFolder()); break;
    case ClipBody::File: path = saveFile(clip, downloadsFolder()); break;
    case ClipBody::Text: break;
    }
    if (path)
        DownloadSignal::sharedInstance().postDownloadFileFinished(*path);
    return path;
}

std::optional<QString> ClipDownloadsHelper::saveImage(const HistoryModel& clip, const QString& folder)
{
    const QString hash = clip.file_hash().value_or(QString());
    // The hash names the file written, and a server may have sent it.
    if (!isValidFileHash(hash))
        return std::nullopt;
    // The picture as it was copied, where this run still has it: a PNG saves as that PNG, not
    // as a JPEG of the stored TIFF.
    std::optional<QByteArray> data = ClipController::sharedInstance().capturedImage(hash);
    if (!data)
        data = ClipFileManager::sharedInstance().getDataWithMd5(hash);
    if (!data)
        return std::nullopt;
    std::optional<QString> format = Utils::typeFromImageData(*data);
    if (!format)
        return std::nullopt;
    if (*format == QLatin1String("tiff")) {
        const QImage image = QImage::fromData(*data, "TIFF");
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        if (image.isNull() || !image.save(&buffer, "JPEG", 90)) {
            spdlog::warn("image {} could not be turned into JPEG", hash.toStdString());
            return std::nullopt;
        }
        data = jpeg;
        format = QStringLiteral("jpg");
    }
    const QString path = folder + QLatin1Char('/') + hash + QLatin1Char('.') + *format;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*data) != data->size() || !file.commit()) {
        spdlog::warn("could not save {}: {}", path.toStdString(), file.errorString().toStdString());
        return std::nullopt;
    }
    return path;
}

std::optional<QString> ClipDownloadsHelper::saveFile(const HistoryModel& clip, const QString& folder)
{
    const QString link = ClipFileManager::sharedInstance().makePreviewLink(clip);
    if (link.isEmpty() || !QFile::exists(link))
        return std::nullopt;
    // Only the last path component of a name that may have come from a server.
    const QString path = folder + QLatin1Char('/') + ClipFileManager::previewName(clip);
    if (!QFile::copy(link, path)) {
        spdlog::info("not saved, {} exists or cannot be written", path.toStdString());
        return std::nullopt;
    }
    return path;
}
