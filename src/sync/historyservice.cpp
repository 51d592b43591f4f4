#include "sync/historyservice.h"

#include "store/dbkeeper.h"
#include "store/utils.h"
#include "sync/fileservice.h"
#include "sync/pushclipsmanager.h"

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

void HistoryService::whenIdle()
{
    FileService::sharedInstance().process();
}

void HistoryService::afterFlight(const QString& hash, std::function<void()> then)
{
    PushClipsManager::sharedInstance().afterPost(hash, std::move(then));
}
