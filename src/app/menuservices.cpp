#include "app/menuservices.h"

#include "service/zeromanager.h"
#include "sync/catchupmanager.h"
#include "sync/getfavouriterequestmanager.h"
#include "sync/uploadtriggers.h"
#include "sync/pushclipsmanager.h"
#include "sync/setfavouriterequestmanager.h"

MenuServices MenuServices::standard()
{
    MenuServices s;
    s.listPlugins = [] { return PluginManager::sharedInstance().listPlugins(); };
    s.keyState = [] { return ZeroManager::sharedInstance().state(); };
    s.currentKeyHash = [] { return ZeroManager::sharedInstance().currentKeyHash(); };
    // One pull at a time, the channel's catch-up pulls included.
    s.pullHistory = [](Done done) { CatchUpManager::sharedInstance().pull(std::move(done)); };
    s.lastPullFailed = [] { return CatchUpManager::sharedInstance().lastPullFailed(); };
    s.pullFavourites = [](Done done) {
        auto pull = std::make_shared<GetFavouriteRequestManager>();
        pull->request([pull, done](const QVariant&, int, const std::optional<RequestError>&) mutable {
            pull.reset();
            done();
        });
    };
    s.setFavourite = [](const HistoryModelPtr& clip, FavouriteDone done) {
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            clip, SetFavouriteRequestManager::OutcomeCallback(
                      [done](const HistoryModelPtr& server, const std::optional<RequestError>&,
                             const StepOutcome& outcome) {
                          // Only the service's own record confirms it: a failure, a refusal,
                          // "no longer here" or another flight of the clip keep it pending here.
                          done(!server || outcome.kind != StepOutcome::Kind::Sent);
                      }));
    };
    s.deleteClip = [](const HistoryModelPtr& clip, Done done) {
        PushClipsManager::sharedInstance().Del(clip,
                                               [done](const QVariant&, const std::optional<RequestError>&) { done(); });
    };
    s.processHistory = [] { UploadTriggers::wakeAll(); };
    s.processFavourites = [] { UploadTriggers::wakeAll(); };
    return s;
}
