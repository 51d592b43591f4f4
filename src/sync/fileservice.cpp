#include "sync/fileservice.h"

#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "store/clipbodylimit.h"
#include "store/cliptype.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "sync/downloadfilemanager.h"
#include "sync/uploadfilemanager.h"

#include <QFile>

FileService& FileService::sharedInstance()
{
    static FileService instance;
    return instance;
}

FileService::FileService()
    : UploadWorker("file worker")
{
}

UploadWorker::Started FileService::startStep(const Step& base, const QStringList& setAside)
{
    const HistoryModelPtr clip = DBKeeper::getFileProcessHistory(setAside);
    if (!clip)
        return Started::Nothing;
    const Step step = stepFor(base, clip);
    const QString& hash = step.hash;
    auto passOver = [&](const char* why) {
        setAsideLocked(hash, why);
        return Started::SetAside;
    };
    if (!isSyncableType(clip->type()) || !isValidFileHash(hash))
        return passOver("not a body that syncs");
    if (NumberReader::wholeNumber(clip->file_ready()).value_or(0) == 0) {
        const QString body = ClipType::parse(clip->type()).zipped() ? PathHelper::getZipsFilePath(hash) : PathHelper::getBaseFilePath(hash);
        if (!QFile::exists(body))
            return passOver("its body is missing here");
        if (ClipBodyLimit::tooLarge(clip->file_size().toDouble()))
            return passOver("too large");
        if (clip->key_hash().value_or(QString()).isEmpty())
            return passOver("no key hash");
        UploadFileManager::sharedInstance().upload(
            clip, [this, step](const QVariant&, const std::optional<RequestError>&, const StepOutcome& outcome) {
                complete(step, outcome, {});
            });
        return Started::Step;
    }
    if (QFile::exists(PathHelper::getBaseFilePath(hash))) {
        // Selected again for ever if the flag cannot be stored.
        if (!DBKeeper::setLocalFileOkWithHash(hash))
            return passOver("its row could not be updated");
        return Started::Settled;
    }
    DownloadFileManager::sharedInstance().downloadHistory(
        clip, [this, step, clip](const QVariant&, const std::optional<RequestError>&, const StepOutcome& outcome) {
            if (outcome.kind == StepOutcome::Kind::Sent) {
                NotificationCenter& center = NotificationCenter::defaultCenter();
                center.post(NotificationName::FileDownloadDone, QVariant::fromValue(clip));
                if (!DBKeeper::getFileProcessHistory())
                    center.post(NotificationName::AllFileDownloadDone);
            }
            complete(step, outcome, {});
        });
    return Started::Step;
}
