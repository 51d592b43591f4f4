#pragma once

#include "service/zeromanager.h"
#include "windows/encryption/pinviewcontroller.h"

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>

class ENCLoadingViewController;
class EncryptAccountPwdViewController;
class QLabel;
class QPushButton;
class RequestManager;
class SheetDialog;
class SyncPublicKeyRequestManager;
class ZeroGetRequestManager;
class ZeroModifyRequestManager;
class ZeroPushRequestManager;
class ZeroRevertRequestManager;

// The one view of the encryption window: the fingerprint of the current key and five flows.
//
// - set-up (beginSetup): asks the server for the account's key record; none (404) leads to
//   the new-key flow, a record to the unlock flow;
// - unlock (askUnlockPIN): asks for the PIN until it opens the server's record or the user
//   cancels;
// - new key (askNewKeyPIN): a new PIN twice, a new key stored on the server, then installed;
// - PIN change (askModifyPIN): the current PIN (checked here first), the new PIN twice, the
//   key re-wrapped and sent with the current PIN's verifier;
// - reset (beginRevert): after a warning, the account password and a new PIN; a new key
//   replaces the old one on the server, which drops every encrypted item of the account.
//
// Each flow is a chain of sheets (PIN, account password, loading) over this view's window,
// key manager calls and key requests; outcomes are told through Alerts. isSetingUp is set
// for the whole of a flow, until its last reply has been handled: set-up and reset refuse
// to start meanwhile, so no second key can be made while one is on its way to the server.
// A pending key is installed only after the server answered with code 0.
//
// Main thread only. It refreshes itself on "USER_LOGOUTED" and "ZERO_CHANGED"; a logout also
// ends the running flow: its sheets close and its late answers and alerts lead nowhere.
class EncMainViewController : public QWidget {
    Q_OBJECT
public:
    // Where the view gets its key requests: new real ones unless a test hands out its own.
    struct Requests {
        std::function<std::shared_ptr<ZeroGetRequestManager>()> makeGet;
        std::function<std::shared_ptr<ZeroPushRequestManager>()> makePush;
        std::function<std::shared_ptr<ZeroModifyRequestManager>()> makeModify;
        std::function<std::shared_ptr<ZeroRevertRequestManager>()> makeRevert;
        std::function<std::shared_ptr<SyncPublicKeyRequestManager>()> makeSyncPublicKey;

        static Requests standard();
    };

    // The help page when the service named none: the maker's own.
    static QUrl builtinHelpURL();

    explicit EncMainViewController(QWidget* parent = nullptr);
    ~EncMainViewController() override;

    QPushButton* pinButton() const { return m_pinButton; }
    QPushButton* revertButton() const { return m_revertButton; }
    QPushButton* helpButton() const { return m_helpButton; }
    QLabel* fingerprint() const { return m_fingerprint; }
    QLabel* warningLabel() const { return m_warningLabel; }
    ENCLoadingViewController* loadingVC() const;
    bool isSetingUp() const { return m_isSetingUp; }

    // The sheets of the running flow while they are up (null otherwise).
    PINViewController* pinSheet() const;
    EncryptAccountPwdViewController* accountPwdSheet() const;

    // The last request of each kind; a new flow of that kind replaces it.
    const std::shared_ptr<ZeroGetRequestManager>& getRequest() const { return m_getRequest; }
    const std::shared_ptr<ZeroPushRequestManager>& pushRequest() const { return m_pushRequest; }
    const std::shared_ptr<ZeroModifyRequestManager>& modifyRequest() const { return m_modifyRequest; }
    const std::shared_ptr<ZeroRevertRequestManager>& revertRequest() const { return m_revertRequest; }
    const std::shared_ptr<SyncPublicKeyRequestManager>& syncKeyRequet() const { return m_syncKeyRequet; }

    void setRequests(Requests requests) { m_requests = std::move(requests); }

public slots:
    // The fingerprint, the PIN button's title and the warning from the key state.
    void setupViews();
    // The PIN button: the PIN change with a key, the set-up without one.
    void modifyPIN();
    // The reset button.
    void revertKey();
    // Opens the help page: "e2eePage" when it is an http or https address, else the built-in.
    void helpClicked();

    void beginSetup();
    void askUnlockPIN(const QVariantMap& cipherDict);
    void askNewKeyPIN();
    void askModifyPIN();
    void beginRevert();

private:
    // The moment a step of a flow was started: the view's logout count, the login epoch and the
    // key work under way. A step goes on only while all three are as they were, so nothing of
    // an ended login, and nothing of a derivation a newer one replaced, is installed or sent.
    struct FlowTicket {
        quint64 account = 0;
        quint64 loginEpoch = 0;
        quint64 keyWork = 0;
    };
    // How a flow reads one key request's answer (defined with the handler).
    struct ReplyPlan;
    struct Unlock;

    FlowTicket ticket() const;
    bool holds(const FlowTicket& ticket) const;

    void showAlert(const QString& messageText, const QString& informativeText,
                   std::function<void()> then = {});
    void showLoading();
    void closeLoading();
    // The loading sheet closed and the flag cleared: the flow is over.
    void endFlow();
    // A PIN sheet from step to finalStep; a cancel ends the flow quietly, the PINs go to `then`
    // once the sheet is closed.
    void askPins(qint64 step, qint64 finalStep, std::function<void(const PINViewController::StepPins&)> then);
    // A cancel of the sheet: the flow ends quietly and the sheet goes.
    std::function<void()> cancelEndsFlow(SheetDialog* sheet);
    // Dismisses a sheet of a flow and lets it go.
    void closeSheet(SheetDialog* sheet);
    void clearFlag() { m_isSetingUp = false; }
    // The account logged out: the running flow ends, its sheets close.
    void endFlows();

    // Sends a key request of the running flow; its answer is read by the plan, only while the
    // flow's ticket holds.
    void sendKeyRequest(RequestManager& request, const ReplyPlan& plan);
    // Installs the pending key the server accepted; says so when it cannot.
    bool installAccepted(const QVariantMap& keyDict);

    // Runs key work (Argon2id) on the global pool with the loading sheet up; its answer runs
    // on the main thread, only while this view, the login it started under and no newer key
    // work remain.
    template <class Result>
    void runKeyWork(std::function<Result()> work, std::function<void(const Result&)> then);
    // A new pending key under the PIN, made off the main thread; `send` sends it, with the
    // loading sheet up again. A key that cannot be made ends the flow with the general message.
    void makeKey(const QString& pin, std::function<void(const QVariantMap& keyDict, const QString& verifier)> send);
    void pinChangeWrapped(bool currentOpens, const std::optional<QVariantMap>& keyDict, const QString& currentVerifier,
                          const QString& newVerifier);
    void unlockAnswered(const QString& pin, const QVariantMap& cipherDict, const Unlock& unlock);
    // Stores quietly the older key wrapped again the current way.
    void sendRewrap(const ZeroRewrap& rewrap);
    // The older key's PIN is shorter than today's rule: a new PIN, then the PIN change.
    void askNewPinForOlderKey(const QString& oldPin);
    // Sends the re-wrapped key with the current PIN's verifier; installs it on code 0.
    void sendPinChange(const QVariantMap& keyDict, const QString& currentVerifier, const QString& newVerifier);
    void askAccountPwd();
    void sendPublicKeyRequest(const QString& pwd, const QString& newPin);
    void sendRevertRequest(const QString& pwd, const QString& newPin);

    QPushButton* m_pinButton = nullptr;
    QPushButton* m_revertButton = nullptr;
    QPushButton* m_helpButton = nullptr;
    QLabel* m_fingerprint = nullptr;
    QLabel* m_warningLabel = nullptr;
    QPointer<ENCLoadingViewController> m_loadingVC;
    bool m_isSetingUp = false;
    // Counts logouts; every step of a flow goes on only under the account it started with.
    quint64 m_account = 0;
    // Counts derivations started; an answer of an older one leads nowhere.
    quint64 m_keyWork = 0;
    QPointer<PINViewController> m_pinSheet;
    QPointer<EncryptAccountPwdViewController> m_pwdSheet;

    Requests m_requests = Requests::standard();
    std::shared_ptr<ZeroModifyRequestManager> m_modifyRequest;
    std::shared_ptr<ZeroPushRequestManager> m_pushRequest;
    std::shared_ptr<ZeroGetRequestManager> m_getRequest;
    std::shared_ptr<ZeroRevertRequestManager> m_revertRequest;
    std::shared_ptr<SyncPublicKeyRequestManager> m_syncKeyRequet;
};
