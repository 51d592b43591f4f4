#pragma once

#include "store/dbkeeper.h"

#include <QJsonValue>
#include <QString>

#include <optional>

// One clip as a server reply describes it, checked before any of it reaches the store or a
// path: a file_hash of 32 lower-case hex digits, a history_id above 0, a file_id and a
// file_size of 0 or more, a file_ready of 0 or 1, a favourite whose magnitude is a number
// (never INT64_MIN), a key hash of 64 lower-case hex digits, a file_name that is a plain last
// path component, numbers that are numbers and texts that are texts. A key that is missing or
// null holds no value here, so the local value is kept.
//
// The one reader of server clips: the pull, the push channel's fetch, and both favourite
// replies turn server data into rows only through it; the pull and the fetch store new clips
// through ServerClipStore.
struct ServerClip {
    QString fileHash;
    std::optional<qint64> historyId;
    std::optional<qint64> fileId;
    std::optional<qint64> fileReady;
    std::optional<qint64> timestamp;
    std::optional<qint64> favourite;
    std::optional<qint64> fileSize;
    std::optional<QString> deviceName;
    std::optional<QString> fileName;
    std::optional<QString> type;
    // An empty key hash reads as none.
    std::optional<QString> keyHash;
    std::optional<QString> content;

    // Nothing, with the reason, when any present value fails its check.
    static std::optional<ServerClip> fromJson(const QJsonValue& value, QString* reason = nullptr);

    // The state a reply gives the stored rows of this clip.
    DBKeeper::ServerState serverState() const;
    // The type a new row of this clip takes, by this device's rule: a clip that came under a
    // key is "enc" here even when the service's type lacks it.
    std::optional<QString> typeForNewRow() const;
    // A new row of the category made from this clip, with the given content. A negative
    // favourite is kept: it carries the time of the unfavouring into later merges.
    HistoryModelPtr newRow(const QString& category, const std::optional<QString>& content) const;
};
