#pragma once

#include "service/requesterror.h"
#include "sync/stepoutcome.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// What a reply of the service becomes for the step that sent it: sent, refused, may pass later
// (5xx), transport failure, or the login ended. Every clip request asks here (post, put,
// delete, set-favourite, upload token, object-store upload, body download), so a retry rule is
// one change; "in flight", "no key" and "unsendable" are decided before anything is sent.
//
// The service's word that a login ended is read here for every sync request, the ones judged
// by a verdict and those that parse their own reply (get, pull, favourites pull, clear):
// endsLogin, then endLogin with the token the request carried.
//
// Any thread; only endLogin has an effect (it posts to the main queue).
namespace ReplyVerdict {

enum class Request { Post, Put, Delete, SetFavourite, UploadToken, Upload, Download };

struct Verdict {
    StepOutcome outcome;
    // The service's JSON answer, when one came.
    std::optional<QJsonObject> reply;
    // The service answered that it no longer has the clip (-10 to a put or a delete, -4 to a
    // set-favourite, 404 to an upload token or a download); the request applies what follows.
    bool gone = false;
    // The service no longer accepts the login token the request carried (endsLogin, or an
    // HTTP 401 from the upload-token or download endpoint). The outcome is then "no key":
    // nothing is settled, the row's mark or the tombstone stays for that account's next login.
    bool loginEnded = false;
};

// A JSON answer saying the login token no longer holds: a "code" that is not the integer 0
// and a "token_expire" that reads as 1.
bool endsLogin(const QJsonObject& reply);
// The one way a sync reply ends a login: for the token the request carried, through
// ConfigureManager::loginEndedByServiceLater (on the main queue, outside any reply's login
// scope), which ends it only while that token is still the stored one, keeping the history.
// Nothing without a token. True when it asked.
bool endLogin(const std::optional<QString>& sentToken);
// endLogin when the verdict says the login ended.
bool endLoginIfEnded(const Verdict& verdict, const std::optional<QString>& sentToken);
// endLogin when the reply (a JSON object, else nothing) says the login ended; true when it
// said so.
bool endLoginIfSaid(const QByteArray& body, const std::optional<QString>& sentToken);
bool endLoginIfSaid(const QJsonObject& reply, const std::optional<QString>& sentToken);

// A JSON answer of the service: only a "code" that is the integer 0 is a success; a reply
// without a code settles nothing.
Verdict ofJson(Request request, const QByteArray& body, const std::optional<RequestError>& error);
// An answer judged by its HTTP status (the upload token through the request base, the object
// store, a body download). status is the HTTP status, or kNoStatus without a response.
Verdict ofStatus(Request request, int status, const std::optional<RequestError>& error);

}  // namespace ReplyVerdict
