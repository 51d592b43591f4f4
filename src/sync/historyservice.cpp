#include "sync/historyservice.h"

#include "platform/numberreader.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/tombstones.h"
#include "store/utils.h"
#include "sync/fileservice.h"
#include "sync/pushclipsmanager.h"

namespace {

// A tombstone's step is known to the base by its hash with this prefix, so it is set aside
// apart from a row of the same hash.
const QString kDeletePrefix = QStringLiteral("delete:");

}  // namespace

HistoryService& HistoryService::sharedInstance()
{
    static HistoryService instance;
    return instance;
}

HistoryService::HistoryService()
    : UploadWorker("history upload")
{
}

UploadWorker::Started HistoryService::startStep(const Step& base, const QStringList& setAside)
{
    if (startDelete(base, setAside))
        return Started::Step;
    const HistoryModelPtr clip = DBKeeper::getUnProcessHistory(setAside);
    // A clip of another kind stays the newest candidate: the clips behind it wait.
    if (!clip || !isSyncableType(clip->type()))
        return Started::Nothing;
    const Step step = stepFor(base, clip);
    auto done = [this, clip, step](const QVariant&, const std::optional<RequestError>&, const StepOutcome& outcome) {
        complete(step, outcome, [clip] { return clip->return_to_zero_change_count(); });
    };
    if (hasServerId(clip))
        PushClipsManager::sharedInstance().Put(clip, std::move(done));
    else
        PushClipsManager::sharedInstance().Post(clip, std::move(done));
    return Started::Step;
}

bool HistoryService::startDelete(const Step& base, const QStringList& setAside)
{
    const QString userId = ConfigureManager::sharedInstance().loginUserId().value_or(QString());
    QStringList skipping;
    for (const QString& key : setAside)
        if (key.startsWith(kDeletePrefix))
            skipping << key.mid(kDeletePrefix.size());
    const std::optional<Tombstone> tombstone = Tombstones::nextToSend(userId, skipping);
    if (!tombstone)
        return false;
    Step step = base;
    step.hash = kDeletePrefix + tombstone->fileHash;
    auto done = [this, step, tombstone = *tombstone](const QVariant& result, const std::optional<RequestError>&,
                                                     const StepOutcome& outcome) {
        complete(step, outcome, [&tombstone, &result] {
            const qint64 code = NumberReader::jsonIntegerOrZero(result.toMap().value(QStringLiteral("code")));
            // Not under that id any more: kept without an id, so a pull or fetch that names the
            // clip under another one still leads to its delete.
            if (code == PushClipsManager::kNoLongerHeld)
                return Tombstones::dropId(tombstone.fileHash, tombstone.historyId, tombstone.userId);
            return Tombstones::forget(tombstone.fileHash, tombstone.historyId, tombstone.userId);
        });
    };
    PushClipsManager::sharedInstance().deleteOnServer(tombstone->fileHash, tombstone->historyId, std::move(done));
    return true;
}

void HistoryService::whenIdle()
{
    FileService::sharedInstance().process();
}

void HistoryService::afterFlight(const QString& hash, std::function<void()> then)
{
    if (hash.startsWith(kDeletePrefix))
        PushClipsManager::sharedInstance().afterDelete(hash.mid(kDeletePrefix.size()), std::move(then));
    else
        PushClipsManager::sharedInstance().afterPost(hash, std::move(then));
}
