#pragma once

// Key requests that answer as the test says, without a network: each reply row of the
// encryption flows can be played exactly (a reply without a code, a 2xx other than 200, a
// transport error), and a reply can be held back to look at the window meanwhile.

#include "service/requestmanager.h"
#include "service/syncpublickeyrequestmanager.h"
#include "service/zerogetrequestmanager.h"
#include "service/zeromodifyrequestmanager.h"
#include "service/zeropushrequestmanager.h"
#include "service/zerorevertrequestmanager.h"
#include "windows/encryption/encmainviewcontroller.h"

#include <QCoreApplication>
#include <QMap>
#include <QMetaObject>
#include <QStringList>
#include <QVariant>

#include <deque>
#include <functional>
#include <memory>

namespace enctest {

struct Reply {
    QVariant result;
    int status = 200;
    std::optional<RequestError> error;
};

inline Reply codeReply(qint64 code, QVariantMap extra = {})
{
    extra.insert(QStringLiteral("code"), code);
    return {extra, 200, std::nullopt};
}
inline Reply noCodeReply()
{
    return {QVariantMap{{QStringLiteral("msg"), QStringLiteral("ok")}}, 200, std::nullopt};
}
inline Reply textCodeReply()
{
    return {QVariantMap{{QStringLiteral("code"), QStringLiteral("0")}}, 200, std::nullopt};
}
inline Reply notObjectReply()
{
    return {QVariantList{QVariant(qlonglong(0))}, 200, std::nullopt};
}
inline Reply errorReply()
{
    return {QVariant(), 500, RequestError{QStringLiteral("HTTP"), 500, {}}};
}
inline Reply statusReply(int status)
{
    return {QVariant(), status, std::nullopt};
}

// What the view sent, kind by kind ("get", "push", "modify", "revert", "publickey").
class ScriptedKeyServer {
public:
    struct Sent {
        QString kind;
        QVariantMap keyDict;
        QString curPwdVerifierB64;
        QString pwdVerifier;
        QString pwd;
    };

    // The next request of the kind gets this reply; one without a scripted reply is answered
    // as not sent (-999).
    void script(const QString& kind, const Reply& reply) { m_state->replies[kind].push_back(reply); }
    // Held replies wait for release().
    void setHold(bool hold) { m_state->hold = hold; }
    bool releaseNext()
    {
        if (m_state->held.empty())
            return false;
        auto next = std::move(m_state->held.front());
        m_state->held.pop_front();
        next();
        return true;
    }
    const QList<Sent>& sent() const { return m_state->sent; }
    QStringList kinds() const
    {
        QStringList out;
        for (const Sent& s : m_state->sent)
            out << s.kind;
        return out;
    }

    EncMainViewController::Requests requests()
    {
        EncMainViewController::Requests r;
        auto state = m_state;
        r.makeGet = [state] { return std::make_shared<Scripted<ZeroGetRequestManager>>(state, QStringLiteral("get")); };
        r.makePush = [state] { return std::make_shared<Scripted<ZeroPushRequestManager>>(state, QStringLiteral("push")); };
        r.makeModify = [state] {
            return std::make_shared<Scripted<ZeroModifyRequestManager>>(state, QStringLiteral("modify"));
        };
        r.makeRevert = [state] {
            return std::make_shared<Scripted<ZeroRevertRequestManager>>(state, QStringLiteral("revert"));
        };
        r.makeSyncPublicKey = [state] {
            return std::make_shared<Scripted<SyncPublicKeyRequestManager>>(state, QStringLiteral("publickey"));
        };
        return r;
    }

private:
    struct State {
        QMap<QString, std::deque<Reply>> replies;
        QList<Sent> sent;
        bool hold = false;
        std::deque<std::function<void()>> held;
    };

    static void describe(const RequestManager&, Sent&) {}
    static void describe(const ZeroPushRequestManager& r, Sent& s)
    {
        s.keyDict = r.key_dict;
        s.pwdVerifier = r.pwd_verifier;
    }
    static void describe(const ZeroModifyRequestManager& r, Sent& s)
    {
        s.keyDict = r.key_dict;
        s.curPwdVerifierB64 = r.curPwdVerifierB64;
        s.pwdVerifier = r.pwd_verifier;
    }
    static void describe(const ZeroRevertRequestManager& r, Sent& s)
    {
        s.keyDict = r.key_dict;
        s.pwd = r.pwd;
        s.pwdVerifier = r.pwd_verifier;
    }

    template <class Base>
    class Scripted : public Base {
    public:
        Scripted(std::shared_ptr<State> state, QString kind)
            : m_state(std::move(state))
            , m_kind(std::move(kind))
        {
        }
        void request(RequestManager::Completion completion) override
        {
            Sent sent;
            sent.kind = m_kind;
            describe(static_cast<const Base&>(*this), sent);
            m_state->sent << sent;
            Reply reply = statusReply(RequestManager::kNoStatus);
            auto& queue = m_state->replies[m_kind];
            if (!queue.empty()) {
                reply = queue.front();
                queue.pop_front();
            }
            auto deliver = [completion, reply] { completion(reply.result, reply.status, reply.error); };
            if (m_state->hold)
                m_state->held.push_back(deliver);
            else
                QMetaObject::invokeMethod(qApp, deliver, Qt::QueuedConnection);
        }

    private:
        std::shared_ptr<State> m_state;
        QString m_kind;
    };

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

}  // namespace enctest
