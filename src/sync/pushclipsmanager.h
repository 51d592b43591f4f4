#pragma once

#include "service/requestmanager.h"
#include "sync/flights.h"
#include "sync/ownsessionrequest.h"
#include "store/historymodel.h"
#include "sync/stepoutcome.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class HttpSession;

// Sends single clips to the server's "/push/" endpoint and applies its answers: create
// (Post), update (Put), fetch the server's copy (Get) and delete (Del). Clip contents whose
// type carries "enc" leave the machine only encrypted with the account's key. Sends only with
// a usable key; replies are handled on its own "push manager" session.
//
// Every operation calls its callback exactly once, on the main queue. A refused operation
// sends nothing and calls back (nothing, no error). A post reply writes only what the server
// owns (ids, body state, device name, type, key hash, the favourite merge) and only while the
// clip's row still exists; a clip deleted while its post was in flight stays deleted, and its
// tombstone takes the id the reply names so the history worker deletes it on the server.
//
// Lock order: HistoryService's lock, then the lock of m_posts or m_deletes (each alone, never
// held while calling out).
class PushClipsManager : public OwnSessionRequest<TokenRequestManager> {
public:
    // (result, error)
    using Callback = std::function<void(const QVariant& result, const std::optional<RequestError>& error)>;
    // (result, error, how the step ended for an upload worker): what a reply becomes is
    // replyverdict.h's (sent only for code 0, or a put's -10, after which the clip is
    // local-only; no key when the service said the login ended, which every /push/ reply is
    // read for, and that login then ends); before sending, in flight (a post of the same clip is on its way), no key
    // (the gate is closed), unsendable (too large, or content that does not encrypt); a post
    // reply about another clip is refused.
    using OutcomeCallback = std::function<void(const QVariant& result, const std::optional<RequestError>& error,
                                               const StepOutcome& outcome)>;

    // The error domain of a failed post.
    static const QString& serverErrorDomain();  // "server errer"

    static PushClipsManager& sharedInstance();

    QString methodURL() const override;

    // Creates the clip on the server. Result: the server's record (HistoryModelPtr). A failed
    // post gives an error of serverErrorDomain(): the reply's code and the reply as user info,
    // or code 0 and no user info when no JSON reply came.
    void Post(const HistoryModelPtr& clip, Callback callback);
    void Post(const HistoryModelPtr& clip, OutcomeCallback callback);
    // Updates a clip the server has, without its content, and without its favourite unless
    // it is an unfavouring (a favourite travels by the set-favourite request, so a re-copy
    // never lowers one made elsewhere). Result: the reply bytes; a reply with code -10
    // detaches the clip (it becomes local-only).
    void Put(const HistoryModelPtr& clip, Callback callback);
    void Put(const HistoryModelPtr& clip, OutcomeCallback callback);
    // Fetches the server's copy. Result: the reply bytes.
    void Get(const HistoryModelPtr& clip, Callback callback);
    // Deletes the clip (every row of its file_hash and its files) here, on the main queue, and,
    // for a login, leaves its tombstone (store/tombstones.h) and wakes the history worker,
    // which deletes it on the server. Result: nothing.
    void Del(const HistoryModelPtr& clip, Callback callback);
    // The history worker's step for a tombstone: deletes the server's clip of that id. Sent
    // when the service deleted it or answers it no longer has it ("code" -10; the result, the
    // parsed reply, tells which), refused for another code, in flight while a delete of the
    // hash is on its way, no key when the gate is closed, transport failure without a JSON
    // answer.
    void deleteOnServer(const QString& fileHash, qint64 historyId, OutcomeCallback callback);
    // The service's "no longer here" code.
    static constexpr qint64 kNoLongerHeld = -10;
    // Before the user's logout, with this login's token and key: sends the delete of each
    // tombstone this account owes (store/tombstones.h: owedBy) once, and returns at once,
    // without waiting for any answer; an answer writes nothing (the logout purge takes the
    // tombstones). A hash whose delete is already on its way is not sent again. Nothing
    // without a login or a key. How many went out.
    int sendOwedDeletes();

    // The clip's post (or delete) is in flight.
    bool isPosting(const QString& fileHash) const;
    // Runs `then` on the main queue once no post of the hash is in flight (after its reply
    // has been applied); at once when none is.
    void afterPost(const QString& fileHash, std::function<void()> then);
    bool isDeleting(const QString& fileHash) const;
    // Runs `then` on the main queue once no server delete of the hash is in flight.
    void afterDelete(const QString& fileHash, std::function<void()> then);

private:
    PushClipsManager();
    ~PushClipsManager() override;

    // The push URL as sent: combinURL with its escapes removed.
    QString pushURL() const;
    using ReplyHandler = std::function<void(const QByteArray& body, const std::optional<RequestError>& error)>;
    // Sends on the push session; the handler runs on its queue.
    void send(const QByteArray& verb, const QString& url, const QByteArray& body, ReplyHandler handler);

    Flights m_posts;
    Flights m_deletes;
};
