#pragma once

#include "service/requestmanager.h"
#include "sync/ownsessionrequest.h"
#include "store/historymodel.h"
#include "sync/stepoutcome.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class HttpSession;

// Sends a clip body to the object store: checks the clip, asks for an upload token, chooses
// the body by the type's modifiers (zips/<hash> for "zip", else files/<hash>), encrypts it
// into encrypts/ with the current key for "enc", and posts it with the signed form, the text
// parts in name order and the file last. On success the clip's row gets file_ready 1.
//
// Server input is untrusted: the token reply must hold its six keys as texts and a "host"
// that is an https URL (http only on loopback), else the upload fails.
//
// The token request goes through the shared session; the form post through the "upload
// manager" session. The callback runs on the main queue, exactly once.
class UploadFileManager : public OwnSessionRequest<RequestManager> {
public:
    // (the store's reply as JSON or nothing, error or nothing)
    using Callback = std::function<void(const QVariant& result, const std::optional<RequestError>& error)>;
    // The same with how the step ended for the file worker: sent, no key (not allowed now, or
    // no key installed), refused (a check of the clip, a token answer of 401 or 404 with the
    // status as code, an unusable form, a body that does not encrypt), transport failure.
    using OutcomeCallback = std::function<void(const QVariant& result, const std::optional<RequestError>& error,
                                               const StepOutcome& outcome)>;


    static UploadFileManager& sharedInstance();


    void upload(const HistoryModelPtr& clip, Callback callback);
    void upload(const HistoryModelPtr& clip, OutcomeCallback callback);

    // The form's text fields from a token reply, in the order sent; nothing when the reply
    // lacks a key, holds a non-text value or names an unusable host.
    struct Form {
        QUrl host;
        QList<std::pair<QString, QByteArray>> fields;
    };
    static std::optional<Form> formFromTokenReply(const QVariant& reply);

    HttpSession& session() { return *m_session; }

private:
    UploadFileManager();
    ~UploadFileManager() override;

    // On the main queue, with the token reply.
    void post(const HistoryModelPtr& clip, const QVariant& reply, quint64 loginEpoch, OutcomeCallback callback);

};
