#pragma once

#include "service/requestmanager.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class HttpSession;

// What the clip requests that send through an HTTP session of their own share (push,
// set-favourite, upload, download): the session, named after its queue, and the gate. Base
// is the request class they build on.
template <typename Base>
class OwnSessionRequest : public Base {
public:
    // A user is logged in and the key state is 1.
    bool isContinueRequest() const override
    {
        return ZeroManager::sharedInstance().state() != 0 && ConfigureManager::sharedInstance().isLogined();
    }
    // Never used: answers at once (nothing, kNoStatus, no error).
    void request(RequestManager::Completion completion) override
    {
        if (completion)
            completion(QVariant(), RequestManager::kNoStatus, std::nullopt);
    }

protected:
    // The class that names the session defines its destructor where HttpSession is complete.
    explicit OwnSessionRequest(std::unique_ptr<HttpSession> session)
        : m_session(std::move(session))
    {
    }

    std::unique_ptr<HttpSession> m_session;
};
