#include "sync/favouriteservice.h"

#include "platform/numberreader.h"
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
{
    m_name = "favourite upload";
}

UploadWorker::Started FavouriteService::startStep(const Step& base, const QStringList& setAside)
{
    const HistoryModelPtr row = DBKeeper::getUnProcessFavourite(setAside);
    // A row of another kind stays the newest candidate: the rows behind it wait.
    if (!row || !isSyncableType(row->type()))
        return Started::Nothing;
    Step step = base;
    step.hash = row->file_hash().value_or(QString());
    auto clearMark = [row] { return row->return_to_zero_change_count(); };
    if (NumberReader::wholeNumber(row->history_id()).value_or(0) != 0) {
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
