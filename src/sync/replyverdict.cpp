#include "sync/replyverdict.h"

#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "store/configuremanager.h"

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
    // These two endpoints say with the status that the login token no longer holds.
    if (statusRequest && status == 401)
        return {StepOutcome::noKey(), std::nullopt, false, true};
    if (statusRequest && status == 404)
        return {StepOutcome::refused(status), std::nullopt, true};
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
    if (endsLogin(*verdict.reply)) {
        verdict.outcome = StepOutcome::noKey();
        verdict.loginEnded = true;
        return verdict;
    }
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

bool endsLogin(const QJsonObject& reply)
{
    const std::optional<qint64> code = codeOf(reply.value(u"code"));
    return (!code || *code != 0) && NumberReader::jsonIntegerOrZero(reply.value(u"token_expire").toVariant()) == 1;
}

bool endLogin(const std::optional<QString>& sentToken)
{
    // Only a token the request carried can have ended; logging out a login that was never
    // asked about would be a logout the service did not say.
    if (!sentToken || sentToken->isEmpty())
        return false;
    ConfigureManager::loginEndedByServiceLater(*sentToken);
    return true;
}

bool endLoginIfEnded(const Verdict& verdict, const std::optional<QString>& sentToken)
{
    return verdict.loginEnded && endLogin(sentToken);
}

bool endLoginIfSaid(const QJsonObject& reply, const std::optional<QString>& sentToken)
{
    if (!endsLogin(reply))
        return false;
    endLogin(sentToken);
    return true;
}

bool endLoginIfSaid(const QByteArray& body, const std::optional<QString>& sentToken)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    return doc.isObject() && endLoginIfSaid(doc.object(), sentToken);
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
