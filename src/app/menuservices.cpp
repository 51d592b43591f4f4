#include "app/menuservices.h"

#include "service/zeromanager.h"
#include "sync/catchupmanager.h"
#include "sync/favouriteservice.h"
#include "sync/getfavouriterequestmanager.h"
#include "sync/historyservice.h"
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
                      [done](const HistoryModelPtr&, const std::optional<RequestError>&, const StepOutcome& outcome) {
                          done(outcome.kind == StepOutcome::Kind::Unsendable
                               || outcome.kind == StepOutcome::Kind::NoKey);
                      }));
    };
    s.deleteClip = [](const HistoryModelPtr& clip, Done done) {
        PushClipsManager::sharedInstance().Del(clip,
                                               [done](const QVariant&, const std::optional<RequestError>&) { done(); });
    };
    s.processHistory = [] { HistoryService::sharedInstance().process(); };
    s.processFavourites = [] { FavouriteService::sharedInstance().process(); };
    return s;
}
