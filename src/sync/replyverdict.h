#pragma once

#include "service/requesterror.h"
#include "sync/stepoutcome.h"

#include <QByteArray>
#include <QJsonObject>

#include <optional>

// What a reply of the service becomes for the step that sent it: sent, refused, may pass later
// (5xx), transport failure. Every clip request asks here (post, put, delete, set-favourite,
// upload token, object-store upload, body download), so a retry rule is one change; "in
// flight", "no key" and "unsendable" are decided before anything is sent.
//
// Pure functions; any thread.
namespace ReplyVerdict {

enum class Request { Post, Put, Delete, SetFavourite, UploadToken, Upload, Download };

struct Verdict {
    StepOutcome outcome;
    // The service's JSON answer, when one came.
    std::optional<QJsonObject> reply;
    // The service answered that it no longer has the clip (-10 to a put or a delete, -4 to a
    // set-favourite, 404 to an upload token or a download); the request applies what follows.
    bool gone = false;
};

// A JSON answer of the service: only a "code" that is the integer 0 is a success; a reply
// without a code settles nothing.
Verdict ofJson(Request request, const QByteArray& body, const std::optional<RequestError>& error);
// An answer judged by its HTTP status (the upload token through the request base, the object
// store, a body download). status is the HTTP status, or kNoStatus without a response.
Verdict ofStatus(Request request, int status, const std::optional<RequestError>& error);

}  // namespace ReplyVerdict
