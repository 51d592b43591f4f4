#include "sync/downloadfilemanager.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/zeromanager.h"
#include "store/clipbodylimit.h"
#include "store/clipfilemanager.h"
#include "store/clipkinds.h"
#include "store/cliptype.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "sync/progressmanager.h"
#include "sync/replylogin.h"
#include "sync/replyverdict.h"
#include "sync/stepanswer.h"
#include "sync/transfererror.h"

#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>
#include <QUrl>

#include <spdlog/spdlog.h>

#include <zip.h>

namespace {

// Moves a file; a destination left over from an earlier attempt is removed first.
bool moveReplacing(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::rename(from, to);
}

}  // namespace

DownloadFileManager& DownloadFileManager::sharedInstance()
{
    static DownloadFileManager instance;
    return instance;
}

DownloadFileManager::DownloadFileManager()
    : OwnSessionRequest(std::make_unique<HttpSession>(QStringLiteral("download manager")))
{
    m_session->setMaxReplySize(kMaxDownloadSize);
}

DownloadFileManager::~DownloadFileManager() = default;

QString DownloadFileManager::methodURL() const
{
    return baseURL() + QStringLiteral("/download_file/");
}

QString DownloadFileManager::combinURL() const
{
    return RequestManager::combinURL() + tokenParameter();
}

void DownloadFileManager::downloadHistory(const HistoryModelPtr& clip, Callback callback)
{
    downloadHistory(clip, OutcomeCallback(StepAnswer::ignoringOutcome(std::move(callback))));
}

void DownloadFileManager::downloadHistory(const HistoryModelPtr& clip, OutcomeCallback callback)
{
    if (!clip || !isContinueRequest())
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::noKey());
    // The hash names every file below; anything but a digest never reaches a path.
    const QString hash = clip->file_hash().value_or(QString());
    if (!isValidFileHash(hash))
        return StepAnswer::onMain(callback, {}, TransferError::failed(kFileProcessError), StepOutcome::refused());

    if (QFile::exists(PathHelper::getBaseFilePath(hash))) {
        if (!DBKeeper::setLocalFileOkWithHash(hash))
            return StepAnswer::onMain(callback, {}, TransferError::failed(kFileProcessError), StepOutcome::refused());
        return StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::sent());
    }

    const QString keyHash = clip->key_hash().value_or(QString());
    const quint64 epoch = ReplyLogin::current();
    // The same copy fails the same way: not fetched again until the server's copy changes.
    if (failedBefore(hash, copyOf(*clip, epoch)))
        return StepAnswer::onMain(callback, {}, TransferError::failed(kFileProcessError), StepOutcome::refused());
    if (ClipType::parse(clip->type()).encrypted()) {
        if (keyHash.isEmpty())
            return StepAnswer::onMain(callback, {}, TransferError::failed(kNoKey), StepOutcome::refused());
        // Made under a key this device no longer has: it can never be opened here.
        if (keyHash != ZeroManager::sharedInstance().currentKeyHash().value_or(QString())) {
            DBKeeper::setLocalHistoryOnly(hash);
            return StepAnswer::onMain(callback, {}, TransferError::failed(kNoKey), StepOutcome::refused());
        }
    }

    if (!keyHash.isEmpty()) {
        if (const auto name = clip->encryptFileName())
            QFile::remove(PathHelper::getEncFilePath(*name));
    }
    if (QFile::exists(PathHelper::getZipsFilePath(hash)))
        ClipFileManager::sharedInstance().deleteZipfileWithName(hash);
    const QString tmp = PathHelper::getTmpDir(hash);
    QFile::remove(tmp);

    const qint64 fileId = NumberReader::wholeNumber(clip->file_id()).value_or(0);
    const QString url = combinURL() + QStringLiteral("&file_hash=") + hash + QStringLiteral("&file_id=")
                        + QString::number(fileId);
    const std::optional<QString> sentToken = user_token();
    auto progress = [hash](qint64 received, qint64 total) {
        ProgressManager::sharedInstance().progress(TransferProgress{received, total}, hash);
    };
    m_session->download(QUrl(url), tmp, std::move(progress),
                        [this, clip, sentToken, epoch, callback = std::move(callback)](const HttpSession::Reply& reply) {
                            ReplyLogin::Scope scope(epoch);
                            finish(clip, reply.status, reply.error, sentToken, epoch, callback);
                        });
}

void DownloadFileManager::finish(const HistoryModelPtr& clip, int status,
                                 const std::optional<RequestError>& transportError,
                                 const std::optional<QString>& sentToken, quint64 epoch, OutcomeCallback callback)
{
    const QString hash = *clip->file_hash();
    const QString tmp = PathHelper::getTmpDir(hash);
    if (!ReplyLogin::holds(epoch)) {
        // The login ended while the body was on its way: nothing of it is kept.
        QFile::remove(tmp);
        ProgressManager::sharedInstance().progressEnded(hash);
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::transportFailure());
    }
    if (status != 200 || transportError) {
        const std::optional<RequestError> failure = transportError ? transportError : std::optional(TransferError::failed());
        const ReplyVerdict::Verdict verdict = ReplyVerdict::ofStatus(ReplyVerdict::Request::Download, status, failure);
        if (verdict.gone)
            DBKeeper::setLocalHistoryOnly(hash);
        // Only the login the request was sent for ends, never a newer one; after this scope.
        ReplyVerdict::endLoginIfEnded(verdict, sentToken);
        QFile::remove(tmp);
        ProgressManager::sharedInstance().progressEnded(hash);
        return StepAnswer::onMain(callback, {}, failure, verdict.outcome);
    }

    bool ok = false;
    bool ended = false;
    {
        // Every file the body passes through (encrypts/, zips/, tmp/, files/) is written under
        // the body lock and only while the login holds: the logout purge takes the lock after
        // the login has moved on, so nothing plain of an ended login outlives its purge.
        QMutexLocker bodyLock(&ClipFileManager::bodyLock());
        ended = !ReplyLogin::holds(epoch);
        if (!ended) {
            ok = undo(*clip, hash);
            if (ok && md5HexOfFile(tmp) != hash) {
                spdlog::warn("download {}: the body does not have the clip's digest", hash.toStdString());
                ok = false;
            }
            if (ok) {
                const QString body = PathHelper::getBaseFilePath(hash);
                // A body that arrived meanwhile (captured here) has the same bytes: keep it.
                ok = QFile::exists(body) || QFile::rename(tmp, body);
            }
        }
        // After a logout nothing was written; files of this hash may be a new login's.
        if (!ok && !ended)
            removeLeftovers(*clip, hash);
        QFile::remove(tmp);
    }
    ProgressManager::sharedInstance().progressEnded(hash);
    if (ended)
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::transportFailure());
    if (!ok) {
        rememberFailure(hash, copyOf(*clip, epoch));
        return StepAnswer::onMain(callback, {}, TransferError::failed(kFileProcessError), StepOutcome::refused());
    }
    if (!DBKeeper::setLocalFileOkWithHash(hash))
        return StepAnswer::onMain(callback, {}, TransferError::failed(kFileProcessError), StepOutcome::refused());
    StepAnswer::onMain(callback, {}, std::nullopt, StepOutcome::sent());
}

void DownloadFileManager::resetForTesting()
{
    QMutexLocker lock(&m_failedLock);
    m_failed.clear();
    m_failedOrder.clear();
}

DownloadFileManager::FailedCopy DownloadFileManager::copyOf(const HistoryModel& clip, quint64 loginEpoch)
{
    const qint64 fileId = NumberReader::wholeNumber(clip.file_id()).value_or(0);
    return FailedCopy{QString::number(fileId), clip.key_hash().value_or(QString()), loginEpoch};
}

bool DownloadFileManager::failedBefore(const QString& hash, const FailedCopy& copy)
{
    QMutexLocker lock(&m_failedLock);
    const auto it = m_failed.constFind(hash);
    if (it == m_failed.cend())
        return false;
    if (it->fileId == copy.fileId && it->keyHash == copy.keyHash && it->loginEpoch == copy.loginEpoch)
        return true;
    // Another copy (or another login): try it once, forgetting the old failure.
    m_failed.erase(it);
    m_failedOrder.removeOne(hash);
    return false;
}

void DownloadFileManager::rememberFailure(const QString& hash, const FailedCopy& copy)
{
    QMutexLocker lock(&m_failedLock);
    if (!m_failed.contains(hash)) {
        if (m_failedOrder.size() >= kMaxFailedBodies)
            m_failed.remove(m_failedOrder.takeFirst());
        m_failedOrder.append(hash);
    }
    m_failed.insert(hash, copy);
}

void DownloadFileManager::removeLeftovers(const HistoryModel& clip, const QString& hash)
{
    if (const auto name = clip.encryptFileName())
        QFile::remove(PathHelper::getEncFilePath(*name));
    if (QFile::exists(PathHelper::getZipsFilePath(hash)))
        ClipFileManager::sharedInstance().deleteZipfileWithName(hash);
    QFile::remove(PathHelper::getTmpDir(hash));
}

bool DownloadFileManager::undo(const HistoryModel& clip, const QString& hash)
{
    const QString tmp = PathHelper::getTmpDir(hash);
    const QStringList modifiers = ClipType::parse(clip.type()).modifiers();
    if (modifiers.isEmpty())
        return true;
    bool ok = false;
    for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it) {
        if (*it == ClipKind::ModifierEnc) {
            const auto name = clip.encryptFileName();
            if (!name)
                return false;
            const QString encrypted = PathHelper::getEncFilePath(*name);
            ok = moveReplacing(tmp, encrypted) && ZeroManager::sharedInstance().decryptFileFrom(encrypted, tmp);
            if (!ok) {
                QFile::remove(tmp);
                return false;
            }
        } else if (*it == ClipKind::ModifierZip) {
            const QString zip = PathHelper::getZipsFilePath(hash);
            ok = moveReplacing(tmp, zip) && unzipSingleEntry(zip, hash, tmp);
            if (!ok)
                return false;
        }
    }
    return ok;
}

bool DownloadFileManager::unzipSingleEntry(const QString& zipPath, const QString& entryName, const QString& target)
{
    int openError = 0;
    zip_t* archive = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &openError);
    if (!archive)
        return false;
    bool ok = false;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_get_num_entries(archive, 0) == 1 && zip_stat_index(archive, 0, 0, &stat) == 0
        && (stat.valid & ZIP_STAT_NAME) && (stat.valid & ZIP_STAT_SIZE)
        && QString::fromUtf8(stat.name) == entryName && !ClipBodyLimit::tooLarge(double(stat.size))) {
        if (zip_file_t* entry = zip_fopen_index(archive, 0, 0)) {
            QSaveFile out(target);
            if (out.open(QIODevice::WriteOnly)) {
                QByteArray buffer(64 * 1024, Qt::Uninitialized);
                zip_uint64_t total = 0;
                bool failed = false;
                for (;;) {
                    // libzip checks the CRC when the entry is read to its end.
                    const zip_int64_t n = zip_fread(entry, buffer.data(), zip_uint64_t(buffer.size()));
                    if (n < 0) {
                        failed = true;
                        break;
                    }
                    if (n == 0)
                        break;
                    total += zip_uint64_t(n);
                    if (total > stat.size || out.write(buffer.constData(), n) != n) {
                        failed = true;
                        break;
                    }
                }
                ok = !failed && total == stat.size && out.commit();
            }
            zip_fclose(entry);
        }
    }
    zip_discard(archive);
    if (!ok)
        QFile::remove(target);
    return ok;
}
