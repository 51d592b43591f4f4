#include "sync/replyverdict.h"

#include "platform/numberreader.h"
#include "service/httpsession.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <climits>

namespace ReplyVerdict {

namespace {

// The service's own words for "I no longer have this clip".
constexpr qint64 kNoLongerHere = -10;
constexpr qint64 kFavouriteGone = -4;

// The HTTP status an error carries, kNoStatus for a failure without a response.
int statusOf(const std::optional<RequestError>& error)
{
    if (error && error->domain == HttpSession::kHttpStatusErrorDomain)
        return error->code;
    return HttpSession::kNoStatus;
}

// A whole number or numeric text, as the service's integer; a fraction, a boolean, null or
// other text is no code.
std::optional<qint64> codeOf(const QJsonValue& value)
{
    if (value.isBool())
        return std::nullopt;
    constexpr double kExact = 9007199254740992.0;  // 2^53: every whole double up to here is exact
    const std::optional<double> n = NumberReader::realNumber(value.toVariant(), -kExact, kExact);
    if (!n || *n != std::trunc(*n))
        return std::nullopt;
    return qint64(*n);
}

Verdict ofFailedStatus(Request request, int status)
{
    if (status >= 500 && status <= 599)
        return {StepOutcome::later(status), std::nullopt, false};
    const bool statusRequest = request == Request::UploadToken || request == Request::Download;
    if (statusRequest && (status == 401 || status == 404))
        return {StepOutcome::refused(status), std::nullopt, status == 404};
    return {StepOutcome::transportFailure(), std::nullopt, false};
}

}  // namespace

Verdict ofJson(Request request, const QByteArray& body, const std::optional<RequestError>& error)
{
    if (error)
        return ofFailedStatus(request, statusOf(error));
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return {StepOutcome::transportFailure(), std::nullopt, false};
    Verdict verdict{StepOutcome::sent(), doc.object(), false};
    const std::optional<qint64> code = codeOf(verdict.reply->value(u"code"));
    if (!code) {
        verdict.outcome = StepOutcome::refused();
        return verdict;
    }
    if (*code == 0)
        return verdict;
    const bool gone = ((request == Request::Put || request == Request::Delete) && *code == kNoLongerHere)
                      || (request == Request::SetFavourite && *code == kFavouriteGone);
    if (gone) {
        verdict.gone = true;
        return verdict;
    }
    verdict.outcome = StepOutcome::refused(int(std::clamp<qint64>(*code, INT_MIN, INT_MAX)));
    return verdict;
}

Verdict ofStatus(Request request, int status, const std::optional<RequestError>& error)
{
    const int failed = error ? (statusOf(error) != HttpSession::kNoStatus ? statusOf(error) : status) : status;
    if (!error && status >= 200 && status <= 299)
        return {StepOutcome::sent(), std::nullopt, false};
    if (!error && status == HttpSession::kNoStatus)
        return {StepOutcome::transportFailure(), std::nullopt, false};
    return ofFailedStatus(request, failed);
}

}  // namespace ReplyVerdict
