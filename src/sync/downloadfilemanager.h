#pragma once

#include "service/requestmanager.h"
#include "sync/ownsessionrequest.h"
#include "service/sodiumglue.h"
#include "store/clipbodylimit.h"
#include "store/historymodel.h"
#include "sync/stepoutcome.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class HttpSession;

// Fetches the body of a clip another device uploaded and turns its stored form back into
// files/<file_hash>: the download lands in tmp/, then the type's "enc" and "zip" modifiers are
// undone from last to first (the encrypted form stays in encrypts/, the zip in zips/).
//
// Server input is untrusted: the hash must be 32 lower-case hex digits before it names a
// file; a zip must hold exactly one entry named by the hash, no larger than a body may be;
// and the final body must have the clip's digest, else it is removed and reported as the
// "file process error". A body made under another key detaches the clip instead.
//
// Transfers run on the "download manager" session; every answer runs on the main queue,
// exactly once. The file worker sends one clip at a time.
class DownloadFileManager : public OwnSessionRequest<RequestManager> {
public:
    // (always nothing, error or nothing)
    using Callback = std::function<void(const QVariant& result, const std::optional<RequestError>& error)>;
    // The same with how the step ended for the file worker: sent (the body is in files/), no
    // key (not allowed now), refused (no usable key for it, a body that fails its checks, an
    // answer of 401 or 404 with the status as code), transport failure.
    using OutcomeCallback = std::function<void(const QVariant& result, const std::optional<RequestError>& error,
                                               const StepOutcome& outcome)>;

    // The user info's "error" of a refusal (sync/transfererror.h) for the key or for the body.
    static constexpr QLatin1String kNoKey{"no key"};
    static constexpr QLatin1String kFileProcessError{"file process error"};
    // The most a download may bring: the largest body (store/clipbodylimit.h) zipped
    // (deflate's worst case and the archive's headers), then encrypted (the stream header and
    // a tag per chunk).
    static constexpr qint64 kMaxZippedSize = ClipBodyLimit::kBytes + (ClipBodyLimit::kBytes >> 12)
        + (ClipBodyLimit::kBytes >> 14) + (ClipBodyLimit::kBytes >> 25) + 13 + 4096;
    static constexpr qint64 kMaxDownloadSize =
        kMaxZippedSize + qint64(CE_BUFFER_OVERHEAD) * (kMaxZippedSize / qint64(CE_FILE_CHUNK_BYTES) + 2);

    static DownloadFileManager& sharedInstance();

    QString methodURL() const override;
    // The common query and "&user_token=" with the login token (not escaped).
    QString combinURL() const override;

    void downloadHistory(const HistoryModelPtr& clip, Callback callback);
    void downloadHistory(const HistoryModelPtr& clip, OutcomeCallback callback);

    // The one entry named `entryName` of the zip written to `target` (replaced atomically).
    // False, leaving no target, unless the archive holds exactly that one entry, read in full
    // within the clip body limit with its CRC checked.
    static bool unzipSingleEntry(const QString& zipPath, const QString& entryName, const QString& target);

    // The session, for tests that shorten its timeout.
    HttpSession& session() { return *m_session; }
    // Forgets the bodies that failed their checks.
    void resetForTesting();

    // The most failed bodies remembered; past it the oldest is forgotten (and fetched once more).
    static constexpr qsizetype kMaxFailedBodies = 4096;

private:
    DownloadFileManager();
    ~DownloadFileManager() override;

    // On the session's queue, after the transfer.
    void finish(const HistoryModelPtr& clip, int status, const std::optional<RequestError>& transportError,
                const std::optional<QString>& sentToken, quint64 loginEpoch, OutcomeCallback callback);
    // Undoes the modifiers; true when tmp/<hash> holds the plain body.
    static bool undo(const HistoryModel& clip, const QString& hash);

    // The server's copy a failed body came from: the same copy is refused without a request.
    struct FailedCopy {
        QString fileId;
        QString keyHash;
        quint64 loginEpoch = 0;
    };
    static FailedCopy copyOf(const HistoryModel& clip, quint64 loginEpoch);
    bool failedBefore(const QString& hash, const FailedCopy& copy);
    void rememberFailure(const QString& hash, const FailedCopy& copy);
    // Removes what a failed body left in encrypts/, zips/ and tmp/.
    static void removeLeftovers(const HistoryModel& clip, const QString& hash);

    // A leaf lock: taken alone, never while another lock is held.
    QMutex m_failedLock;
    // In memory only, keyed by hash with the server's file_id and key_hash: a restart or a new
    // login tries each such body once more, which costs one download and keeps no stale state
    // on disk; a changed copy on the server is fetched at once.
    QHash<QString, FailedCopy> m_failed;
    QList<QString> m_failedOrder;
};
