#include "sync/favouriteservice.h"

#include "store/dbkeeper.h"
#include "store/utils.h"
#include "sync/fileservice.h"
#include "sync/pushclipsmanager.h"
#include "sync/setfavouriterequestmanager.h"

FavouriteService& FavouriteService::sharedInstance()
{
    static FavouriteService instance;
    return instance;
}

FavouriteService::FavouriteService()
    : UploadWorker("favourite upload")
{
}

UploadWorker::Started FavouriteService::startStep(const Step& base, const QStringList& setAside)
{
    const HistoryModelPtr row = DBKeeper::getUnProcessFavourite(setAside);
    // A row of another kind stays the newest candidate: the rows behind it wait.
    if (!row || !isSyncableType(row->type()))
        return Started::Nothing;
    const Step step = stepFor(base, row);
    auto clearMark = [row] { return row->return_to_zero_change_count(); };
    if (hasServerId(row)) {
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            row, [this, step, clearMark](const HistoryModelPtr&, const std::optional<RequestError>&,
                                         const StepOutcome& outcome) { complete(step, outcome, clearMark); });
    } else {
        PushClipsManager::sharedInstance().Post(
            row, [this, step, clearMark](const QVariant&, const std::optional<RequestError>&,
                                         const StepOutcome& outcome) { complete(step, outcome, clearMark); });
    }
    return Started::Step;
}

void FavouriteService::whenIdle()
{
    FileService::sharedInstance().process();
}

void FavouriteService::afterFlight(const QString& hash, std::function<void()> then)
{
    // Whichever of the two is on its way; both answer at once when neither is.
    PushClipsManager::sharedInstance().afterPost(
        hash, [hash, then = std::move(then)]() mutable {
            SetFavouriteRequestManager::sharedInstance().afterFavourite(hash, std::move(then));
        });
}
