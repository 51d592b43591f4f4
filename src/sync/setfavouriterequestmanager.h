#pragma once

#include "service/requestmanager.h"
#include "sync/flights.h"
#include "sync/ownsessionrequest.h"
#include "store/historymodel.h"
#include "sync/stepoutcome.h"


#include <functional>
#include <memory>
#include <optional>

class HttpSession;

// Sends the favourite value of one clip the server already knows (POST "/set_favourite/")
// on its own "set favourite" session, and merges the server's answer: the value of larger
// magnitude wins; a tie (two decisions of the same second) goes to the server only when its
// answer is the value this request sent, else the local value stays; a winning negative value
// removes the favourite row, and a winning value is written into every row of the clip. The body is the clip's JSON form without "content", so nothing of a clip's text
// leaves the machine this way; secret clips and clips the server does not know are never sent.
//
// A reply with code -4 (the server lost the clip) detaches the clip locally; it is kept.
// Refused calls (not allowed, one of the same hash in flight, too large, secret, unknown to
// the server) complete with (null, no error). The callback runs on the main queue, once.
class SetFavouriteRequestManager : public OwnSessionRequest<TokenRequestManager> {
public:
    // (the clip as the server returned it or null, error); once per call, on the main queue.
    using Callback = std::function<void(const HistoryModelPtr& result, const std::optional<RequestError>& error)>;
    // The same with how the step ended for the favourite worker: sent (code 0, or -4: the
    // clip is detached here and done), in flight, no key (not allowed now, or the service
    // said the login ended, which then ends), refused (another
    // code), transport failure (no JSON answer), unsendable (too large, secret, no server id).
    using OutcomeCallback = std::function<void(const HistoryModelPtr& result, const std::optional<RequestError>& error,
                                               const StepOutcome& outcome)>;

    static SetFavouriteRequestManager& sharedInstance();

    QString methodURL() const override;

    void setFavourite(const HistoryModelPtr& clip, Callback callback);
    void setFavourite(const HistoryModelPtr& clip, OutcomeCallback callback);

    // A set-favourite request of this hash is in flight.
    bool isInFlight(const QString& fileHash) const;
    // Runs `then` on the main queue once no set-favourite of the hash is in flight; at once
    // when none is.
    void afterFavourite(const QString& fileHash, std::function<void()> then);

private:
    SetFavouriteRequestManager();
    ~SetFavouriteRequestManager() override;

    // On the "set favourite" queue.
    void handleReply(const HistoryModelPtr& clip, const QByteArray& body, const std::optional<RequestError>& error,
                     OutcomeCallback callback);

    // The set-favourite requests in flight, by hash.
    Flights favouriteTask;
};
