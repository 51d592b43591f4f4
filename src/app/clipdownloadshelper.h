#pragma once

#include "store/historymodel.h"

#include <QString>

#include <optional>

// Saves an image or file clip's body into "~/Downloads".
class ClipDownloadsHelper {
public:
    ClipDownloadsHelper() = delete;

    // "~/Downloads" of the current home, made when it is missing.
    static QString downloadsFolder();

    // An image is written as <file_hash>.<gif|png|jpg|tiff>, by its first byte, replacing a
    // file of that name; TIFF is turned into JPEG (quality 90) and named ".jpg"; bytes of no
    // known format are not saved. A file is copied under its file name's last path component
    // (the file_hash for a name that has none), never over an existing file. Nothing else
    // is saved. On success the path written, announced through DownloadSignal; nothing on
    // failure.
    static std::optional<QString> saveToDownloads(const HistoryModel& clip);

private:
    static std::optional<QString> saveImage(const HistoryModel& clip, const QString& folder);
    static std::optional<QString> saveFile(const HistoryModel& clip, const QString& folder);
};
