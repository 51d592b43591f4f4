#pragma once

#include "service/requesterror.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

// Base of every call to the web API: a request object is made for each call, configured and
// sent with request(); the outcome arrives once through the completion, on the main queue.
//
// Sending is not built yet: every request calls back as one that was not sent
// (nothing, kNoStatus, no error) and nothing goes over the network.
class RequestManager {
public:
    // (parsed result or an invalid QVariant, HTTP status or kNoStatus, error or nothing)
    using Completion =
        std::function<void(const QVariant& result, int status, const std::optional<RequestError>& error)>;

    // The status when there was no HTTP response or nothing was sent.
    static constexpr int kNoStatus = -999;

    RequestManager() = default;
    virtual ~RequestManager() = default;

    RequestManager(const RequestManager&) = delete;
    RequestManager& operator=(const RequestManager&) = delete;

    virtual QString baseURL() const;
    // The request's own path after baseURL; empty in the base class.
    virtual QString methodURL() const;
    virtual QString combinURL() const;
    // Whether the request may be sent now.
    virtual bool isContinueRequest() const;
    // Sets the body of requests that have one.
    virtual void genPostData();
    virtual void request(Completion completion);
    // The result handed to the completion for a reply body; invalid for none.
    virtual QVariant parse(const QByteArray& data);
};
