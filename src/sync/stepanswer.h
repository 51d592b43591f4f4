#pragma once

#include "platform/dispatch.h"
#include "service/requestmanager.h"
#include "sync/stepoutcome.h"

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The two ways a sync request answers a step, shared by the push, set-favourite, upload and
// download requests.
namespace StepAnswer {

// Hands the answer to the callback on the main queue; nothing when there is no callback.
template <typename Result>
void onMain(const std::function<void(const Result&, const std::optional<RequestError>&, const StepOutcome&)>& callback,
            const std::type_identity_t<Result>& result, const std::optional<RequestError>& error,
            const StepOutcome& outcome)
{
    if (!callback)
        return;
    dispatch::mainAsync([callback, result, error, outcome] { callback(result, error, outcome); });
}

// The outcome callback for a caller that does not look at the outcome.
template <typename Callback>
auto ignoringOutcome(Callback callback)
{
    return [callback = std::move(callback)](const auto& result, const std::optional<RequestError>& error,
                                            const StepOutcome&) {
        if (callback)
            callback(result, error);
    };
}

}  // namespace StepAnswer
