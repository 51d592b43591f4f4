#include "windows/encryption/encmainviewcontroller.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "service/syncpublickeyrequestmanager.h"
#include "service/zerogetrequestmanager.h"
#include "service/zeromanager.h"
#include "service/zeromodifyrequestmanager.h"
#include "service/zeropushrequestmanager.h"
#include "service/zerorevertrequestmanager.h"
#include "store/configuremanager.h"
#include "store/clipapphelper.h"
#include "store/clipuserdefaults.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "windows/alerts.h"
#include "windows/encryption/encloadingviewcontroller.h"
#include "windows/encryption/encryptaccountpwdviewcontroller.h"
#include "windows/encryption/pinviewcontroller.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A message and its informative text.
struct AlertWords {
    QString message;
    QString informative;
};

// The general messages.
const QString kErrorMessage = QStringLiteral("发生错误, 请稍后重试");
const QString kNetworkMessage = QStringLiteral("网络问题, 请稍后重试");
const QString kServerMessage = QStringLiteral("服务器问题, 请稍后重试");
const QString kUnknownError = QStringLiteral("未知错误");
const AlertWords kWrongCurrentPin{QStringLiteral("您输入的当前PIN不正确"),
                                  QStringLiteral("如果您忘记了当前的PIN, 只能选择‘重置加密档案’, 请记住, "
                                                 "重置加密档案会清空线上所有数据, 包括收藏的数据")};

// A key request's answer as the flows read it.
struct KeyReply {
    enum class Kind {
        ErrorAnswer,    // a transport failure or an HTTP status outside 200-299
        StatusFailure,  // no error but not 200 (not sent, or another 2xx)
        Answer,         // 200: the reply object and its code, where it has them
    };
    Kind kind = Kind::Answer;
    bool isObject = false;
    QVariantMap object;
    // "code" when present and a JSON integer.
    std::optional<qint64> code;

    bool isSuccess() const { return kind == Kind::Answer && isObject && code == 0; }
};

bool isObject(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QVariantMap;
}

KeyReply readReply(const QVariant& result, int status, const std::optional<RequestError>& error)
{
    KeyReply reply;
    if (error) {
        reply.kind = KeyReply::Kind::ErrorAnswer;
        return reply;
    }
    if (status != 200) {
        reply.kind = KeyReply::Kind::StatusFailure;
        return reply;
    }
    reply.isObject = isObject(result);
    if (reply.isObject) {
        reply.object = result.toMap();
        if (reply.object.contains(QStringLiteral("code")))
            reply.code = NumberReader::jsonInteger(reply.object.value(QStringLiteral("code")));
    }
    return reply;
}

// A key made or wrapped again, and the PIN's verifier for it.
struct MadeKey {
    std::optional<QVariantMap> keyDict;
    QString verifier;
};

}  // namespace

// What a flow says or does on each answer of one key request. The flow ends (loading sheet
// closed, flag cleared) before its words are shown; empty words say nothing.
struct EncMainViewController::ReplyPlan {
    AlertWords errorAnswer{kErrorMessage, {}};
    AlertWords statusFailure{kNetworkMessage, {}};
    // Not an object, or no integer code.
    AlertWords noCode{kErrorMessage, {}};
    AlertWords otherCode{kServerMessage, {}};
    // Codes with words of their own.
    QHash<qint64, AlertWords> codeWords;
    // The codes the flow goes on with: goOn gets the answer's object, the flow not yet ended.
    QList<qint64> goOnCodes{0};
    std::function<void(qint64 code, const QVariantMap& object)> goOn;
};

// The server's record opened, and what the key still wrapped the older way needs.
struct EncMainViewController::Unlock {
    bool opened = false;
    KeyRefusal why = KeyRefusal::None;
    // The older record's PIN is shorter than today's rule: the user sets a new one.
    bool olderShortPin = false;
    // The older key wrapped again the current way under the same PIN.
    std::optional<ZeroRewrap> rewrap;
};

EncMainViewController::Requests EncMainViewController::Requests::standard()
{
    Requests r;
    r.makeGet = [] { return std::make_shared<ZeroGetRequestManager>(); };
    r.makePush = [] { return std::make_shared<ZeroPushRequestManager>(); };
    r.makeModify = [] { return std::make_shared<ZeroModifyRequestManager>(); };
    r.makeRevert = [] { return std::make_shared<ZeroRevertRequestManager>(); };
    r.makeSyncPublicKey = [] { return std::make_shared<SyncPublicKeyRequestManager>(); };
    return r;
}

QUrl EncMainViewController::builtinHelpURL()
{
    return QUrl(QStringLiteral("http://www.nuvarel.com/help/e2ee.html"));
}

EncMainViewController::EncMainViewController(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("EncMainViewController"));

    auto* title = new QLabel(QStringLiteral("端对端加密"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* about = new QLabel(
        QStringLiteral("剪贴板内容在本机用您的密钥加密后才会上传, 密钥由您的PIN保护, 服务器无法读取。"), this);
    about->setWordWrap(true);

    m_fingerprint = new QLabel(this);
    m_fingerprint->setTextFormat(Qt::PlainText);
    m_fingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warningLabel = new QLabel(
        QStringLiteral("尚未激活端对端加密: 激活之前, 剪贴板内容不会同步到您的其他设备。"), this);
    m_warningLabel->setWordWrap(true);
    m_warningLabel->setStyleSheet(QStringLiteral("color: #c0392b;"));

    m_pinButton = new QPushButton(this);
    m_revertButton = new QPushButton(QStringLiteral("销毁并重置加密档案"), this);
    m_helpButton = new QPushButton(QStringLiteral("帮助"), this);
    // Return in the window must not start a flow by accident.
    for (QPushButton* b : {m_pinButton, m_revertButton, m_helpButton})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_helpButton);
    buttons->addStretch(1);
    buttons->addWidget(m_revertButton);
    buttons->addWidget(m_pinButton);
    // Tab follows the buttons as they read, left to right.
    setTabOrder(m_helpButton, m_revertButton);
    setTabOrder(m_revertButton, m_pinButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(about);
    layout->addSpacing(8);
    layout->addWidget(m_fingerprint);
    layout->addWidget(m_warningLabel);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_pinButton, &QPushButton::clicked, this, &EncMainViewController::modifyPIN);
    connect(m_revertButton, &QPushButton::clicked, this, &EncMainViewController::revertKey);
    connect(m_helpButton, &QPushButton::clicked, this, &EncMainViewController::helpClicked);

    m_loadingVC = new ENCLoadingViewController;

    setupViews();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(NotificationName::UserLogouted, this, [this](const Notification&) { endFlows(); });
    center.addObserver(NotificationName::ZeroChanged, this, [this](const Notification&) { setupViews(); });
}

EncMainViewController::~EncMainViewController()
{
    NotificationCenter::defaultCenter().removeObserversOf(this);
    // The sheets live on the window; they go with the view that runs them.
    delete m_loadingVC;
    delete m_pinSheet;
    delete m_pwdSheet;
}

ENCLoadingViewController* EncMainViewController::loadingVC() const
{
    return m_loadingVC;
}

PINViewController* EncMainViewController::pinSheet() const
{
    return m_pinSheet && m_pinSheet->isPresented() ? m_pinSheet.data() : nullptr;
}

EncryptAccountPwdViewController* EncMainViewController::accountPwdSheet() const
{
    return m_pwdSheet && m_pwdSheet->isPresented() ? m_pwdSheet.data() : nullptr;
}

void EncMainViewController::setupViews()
{
    if (const auto hash = ZeroManager::sharedInstance().currentKeyHash()) {
        m_fingerprint->setText(QStringLiteral("指纹: ") + *hash);
        m_pinButton->setText(QStringLiteral("修改PIN"));
        m_warningLabel->setHidden(true);
    } else {
        m_fingerprint->setText(QStringLiteral("指纹: (空)"));
        m_pinButton->setText(QStringLiteral("激活端对端加密"));
        m_warningLabel->setHidden(false);
    }
}

void EncMainViewController::endFlows()
{
    // A flow of the account that logged out means nothing now: its PIN would be checked
    // against a key that is gone, and a late answer must not install a key or say anything.
    ++m_account;
    closeSheet(m_pinSheet);
    closeSheet(m_pwdSheet);
    closeLoading();
    clearFlag();
    setupViews();
}

void EncMainViewController::modifyPIN()
{
    if (ZeroManager::sharedInstance().currentKeyHash())
        askModifyPIN();
    else
        beginSetup();
}

void EncMainViewController::revertKey()
{
    beginRevert();
}

void EncMainViewController::helpClicked()
{
    QUrl url = builtinHelpURL();
    if (const auto page = ClipUserDefaults::standardUserDefaults().string(DefaultsKey::E2eePage)) {
        const QUrl stored(*page, QUrl::StrictMode);
        const QString scheme = stored.scheme().toLower();
        // Only a web page: a stored "file:" or custom-scheme address must not be opened.
        if (stored.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            && !stored.host().isEmpty())
            url = stored;
    }
    ClipAppHelper::sharedInstance().openURL(url);
}

EncMainViewController::FlowTicket EncMainViewController::ticket() const
{
    return {m_account, ConfigureManager::sharedInstance().loginEpoch(), m_keyWork};
}

bool EncMainViewController::holds(const FlowTicket& flow) const
{
    const FlowTicket now = ticket();
    return now.account == flow.account && now.loginEpoch == flow.loginEpoch && now.keyWork == flow.keyWork;
}

void EncMainViewController::showAlert(const QString& messageText, const QString& informativeText,
                                      std::function<void()> then)
{
    QPointer<EncMainViewController> self(this);
    Alerts::current().inform(this, messageText, informativeText, [self, then, flow = ticket()](int) {
        if (self && then && self->holds(flow))
            then();
    });
}

void EncMainViewController::showLoading()
{
    if (m_loadingVC)
        m_loadingVC->presentAsSheetOver(this);
}

void EncMainViewController::closeLoading()
{
    if (m_loadingVC)
        m_loadingVC->dismiss();
}

void EncMainViewController::endFlow()
{
    clearFlag();
    closeLoading();
}

void EncMainViewController::askPins(qint64 step, qint64 finalStep,
                                    std::function<void(const PINViewController::StepPins&)> then)
{
    auto* sheet = new PINViewController(step);
    sheet->setFinalStep(finalStep);
    m_pinSheet = sheet;
    sheet->setCancelHandler(cancelEndsFlow(sheet));
    QPointer<EncMainViewController> self(this);
    QPointer<PINViewController> weakSheet(sheet);
    sheet->setResultHandler([self, weakSheet, then = std::move(then), flow = ticket()](
                                const PINViewController::StepPins& pins) {
        if (!self || !self->holds(flow))
            return;
        self->closeSheet(weakSheet);
        then(pins);
    });
    sheet->presentAsSheetOver(this);
}

std::function<void()> EncMainViewController::cancelEndsFlow(SheetDialog* sheet)
{
    QPointer<EncMainViewController> self(this);
    QPointer<SheetDialog> weakSheet(sheet);
    return [self, weakSheet] {
        if (!self)
            return;
        self->clearFlag();
        self->closeSheet(weakSheet);
    };
}

void EncMainViewController::closeSheet(SheetDialog* sheet)
{
    if (!sheet)
        return;
    sheet->dismiss();
    sheet->deleteLater();
}

void EncMainViewController::sendKeyRequest(RequestManager& request, const ReplyPlan& plan)
{
    QPointer<EncMainViewController> self(this);
    request.request([self, plan, flow = ticket()](const QVariant& result, int status,
                                                  const std::optional<RequestError>& error) {
        if (!self || !self->holds(flow))
            return;
        const KeyReply reply = readReply(result, status, error);
        if (reply.kind == KeyReply::Kind::Answer && reply.code && plan.goOnCodes.contains(*reply.code)) {
            plan.goOn(*reply.code, reply.object);
            return;
        }
        self->endFlow();
        const AlertWords* words = &plan.noCode;
        switch (reply.kind) {
        case KeyReply::Kind::ErrorAnswer: words = &plan.errorAnswer; break;
        case KeyReply::Kind::StatusFailure: words = &plan.statusFailure; break;
        case KeyReply::Kind::Answer:
            if (reply.code) {
                const auto own = plan.codeWords.constFind(*reply.code);
                words = own != plan.codeWords.cend() ? &own.value() : &plan.otherCode;
            }
            break;
        }
        if (!words->message.isEmpty())
            self->showAlert(words->message, words->informative);
    });
}

bool EncMainViewController::installAccepted(const QVariantMap& keyDict)
{
    if (ZeroManager::sharedInstance().makeKeyAvailable(keyDict))
        return true;
    showAlert(kErrorMessage, QString());
    return false;
}

template <class Result>
void EncMainViewController::runKeyWork(std::function<Result()> work, std::function<void(const Result&)> then)
{
    // A newer derivation replaces this one's answer (a second PIN entry meanwhile).
    ++m_keyWork;
    showLoading();
    QPointer<EncMainViewController> self(this);
    auto result = std::make_shared<Result>();
    // Dropped when the view is gone, its login ended or changed, or newer key work began.
    dispatch::Block onMain = [self, flow = ticket(), then = std::move(then), result] {
        if (!self || !self->holds(flow))
            return;
        self->closeLoading();
        then(*result);
    };
    dispatch::globalAsync([work = std::move(work), result, onMain = std::move(onMain)]() mutable {
        *result = work();
        dispatch::mainAsync(std::move(onMain));
    });
}

// --- Set-up, unlock and new key -----------------------------------------------------------

void EncMainViewController::beginSetup()
{
    if (m_isSetingUp)
        return;
    m_isSetingUp = true;
    showLoading();
    m_getRequest = m_requests.makeGet();
    QPointer<EncMainViewController> self(this);
    ReplyPlan plan;
    plan.statusFailure = {kErrorMessage, {}};
    plan.noCode = {};
    plan.otherCode = {kErrorMessage, {}};
    plan.goOnCodes = {0, 404};
    plan.goOn = [self](qint64 code, const QVariantMap& object) {
        self->closeLoading();
        if (code == 404) {
            self->askNewKeyPIN();
            return;
        }
        const QVariant cipher = object.value(QStringLiteral("cipher"));
        if (isObject(cipher) && !cipher.toMap().isEmpty()) {
            self->askUnlockPIN(cipher.toMap());
            return;
        }
        self->clearFlag();
    };
    sendKeyRequest(*m_getRequest, plan);
}

void EncMainViewController::askUnlockPIN(const QVariantMap& cipherDict)
{
    QPointer<EncMainViewController> self(this);
    askPins(0, 0, [self, cipherDict](const PINViewController::StepPins& pins) {
        const QString pin = pins.value(0);
        // Argon2id takes about a second: on the global pool, under the loading sheet. The key
        // is installed only for the login the PIN was typed under (decryptKey checks it). A
        // key still wrapped the older way is wrapped again in the same run, while the PIN is
        // at hand.
        self->runKeyWork<Unlock>(
            [pin, cipherDict] {
                Unlock unlock;
                ZeroManager& zero = ZeroManager::sharedInstance();
                unlock.opened = zero.decryptKey(pin, cipherDict, &unlock.why);
                if (unlock.opened && zero.currentWrapVersionInUse() == ZeroManager::olderWrapVersion()) {
                    unlock.olderShortPin = pin.toUcs4().size() < ZeroManager::kMinPinCharacters;
                    if (!unlock.olderShortPin)
                        unlock.rewrap = zero.rewrapOlderKey(pin);
                }
                return unlock;
            },
            [self, pin, cipherDict](const Unlock& unlock) { self->unlockAnswered(pin, cipherDict, unlock); });
    });
}

void EncMainViewController::unlockAnswered(const QString& pin, const QVariantMap& cipherDict, const Unlock& unlock)
{
    if (unlock.opened) {
        setupViews();
        if (unlock.olderShortPin) {
            askNewPinForOlderKey(pin);
            return;
        }
        clearFlag();
        if (unlock.rewrap)
            sendRewrap(*unlock.rewrap);
        return;
    }
    // Not the PIN's fault: another PIN would not help, so the loop ends here.
    if (unlock.why == KeyRefusal::Downgrade || unlock.why == KeyRefusal::KeyMismatch || unlock.why == KeyRefusal::NotKnownKey) {
        clearFlag();
        showAlert(QStringLiteral("服务器的密钥记录不可信"),
                  unlock.why == KeyRefusal::Downgrade
                      ? QStringLiteral("本机曾使用此账号 2.0 版的密钥记录, 服务器现在给出的却是旧的 1.0 版。"
                                       "为保护您的数据, 本机不使用它。")
                  : unlock.why == KeyRefusal::NotKnownKey
                      ? QStringLiteral("服务器的密钥记录不是本机所知的此账号密钥, 可能已过时。"
                                       "为保护您的数据, 本机不使用它, 请稍后重试。")
                      : QStringLiteral("服务器的密钥记录与其中的密钥不符, 可能不是您的密钥。"
                                       "为保护您的数据, 本机不使用它。"));
        return;
    }
    // The flag stays set: the loop ends with the right PIN or a cancel.
    QPointer<EncMainViewController> self(this);
    showAlert(QStringLiteral("PIN错误"), QStringLiteral("如果您忘记了PIN, 只能选择“销毁并重置加密档案”"),
              [self, cipherDict] { self->askUnlockPIN(cipherDict); });
}

void EncMainViewController::askNewKeyPIN()
{
    QPointer<EncMainViewController> self(this);
    askPins(1, 2, [self](const PINViewController::StepPins& pins) {
        self->makeKey(pins.value(2), [self](const QVariantMap& keyDict, const QString& verifier) {
            self->m_pushRequest = self->m_requests.makePush();
            self->m_pushRequest->key_dict = keyDict;
            self->m_pushRequest->pwd_verifier = verifier;
            // The flag stays set until the answer: a second set-up now would make a second
            // pending key while this one is on its way to the server. Only a stated success
            // installs the key; an answer without a code is not one.
            ReplyPlan plan;
            plan.goOn = [self, keyDict](qint64, const QVariantMap&) {
                self->endFlow();
                if (self->installAccepted(keyDict))
                    self->setupViews();
            };
            self->sendKeyRequest(*self->m_pushRequest, plan);
        });
    });
}

void EncMainViewController::makeKey(const QString& pin, std::function<void(const QVariantMap&, const QString&)> send)
{
    QPointer<EncMainViewController> self(this);
    // Argon2id: on the global pool, under the loading sheet, which stays up for the request.
    runKeyWork<MadeKey>(
        [pin] {
            MadeKey made;
            made.keyDict = ZeroManager::sharedInstance().generateKey(pin, &made.verifier);
            return made;
        },
        [self, send = std::move(send)](const MadeKey& made) {
            if (!made.keyDict) {
                self->clearFlag();
                self->showAlert(kErrorMessage, QString());
                return;
            }
            self->showLoading();
            send(*made.keyDict, made.verifier);
        });
}

// A key still wrapped the older, cheaply guessed way is stored again the current way while its
// PIN is at hand. Quiet: one that fails is tried again at the next unlock.
void EncMainViewController::sendRewrap(const ZeroRewrap& rewrap)
{
    const std::shared_ptr<ZeroModifyRequestManager> request = m_requests.makeModify();
    request->key_dict = rewrap.keyDict;
    request->curPwdVerifierB64 = rewrap.lastPwdVerifier;
    request->pwd_verifier = rewrap.pwdVerifier;
    request->request([keyDict = rewrap.keyDict](const QVariant& result, int status,
                                                const std::optional<RequestError>& error) {
        if (readReply(result, status, error).isSuccess())
            ZeroManager::sharedInstance().makeKeyAvailable(keyDict);
    });
}

// A PIN kept from the older, shorter rule is not wrapped again as it is: the user sets a new
// one, and the PIN change replaces the service's older record with the new one.
void EncMainViewController::askNewPinForOlderKey(const QString& oldPin)
{
    m_isSetingUp = true;
    QPointer<EncMainViewController> self(this);
    showAlert(QStringLiteral("请设置新的PIN"),
              QStringLiteral("您的PIN少于%1位。请设置一个新的PIN, 它将替换服务器上旧的加密档案。")
                  .arg(ZeroManager::kMinPinCharacters),
              [self, oldPin] {
                  self->askPins(1, 2, [self, oldPin](const PINViewController::StepPins& pins) {
                      const QString pin = pins.value(2);
                      // Argon2id: on the global pool, under the loading sheet.
                      self->runKeyWork<MadeKey>(
                          [pin] {
                              MadeKey made;
                              made.keyDict = ZeroManager::sharedInstance().modifyKeyWithPwd(pin, &made.verifier);
                              return made;
                          },
                          [self, oldPin](const MadeKey& made) {
                              self->pinChangeWrapped(true, made.keyDict, ZeroManager::pinVerifierWithBase64(oldPin),
                                                     made.verifier);
                          });
                  });
              });
}

// --- PIN change ----------------------------------------------------------------------------

void EncMainViewController::askModifyPIN()
{
    m_isSetingUp = true;
    QPointer<EncMainViewController> self(this);
    askPins(0, 2, [self](const PINViewController::StepPins& pins) {
        struct Changed {
            bool currentOpens = false;
            QString currentVerifier;
            std::optional<QVariantMap> keyDict;
            QString newVerifier;
        };
        const QString current = pins.value(0);
        const QString next = pins.value(2);
        // Argon2id twice: on the global pool, under the loading sheet.
        self->runKeyWork<Changed>(
            [current, next] {
                Changed changed;
                ZeroManager& zero = ZeroManager::sharedInstance();
                changed.currentOpens = zero.checkCurrentPwd(current, &changed.currentVerifier);
                if (changed.currentOpens)
                    changed.keyDict = zero.modifyKeyWithPwd(next, &changed.newVerifier);
                return changed;
            },
            [self](const Changed& changed) {
                self->pinChangeWrapped(changed.currentOpens, changed.keyDict, changed.currentVerifier,
                                       changed.newVerifier);
            });
    });
}

void EncMainViewController::pinChangeWrapped(bool currentOpens, const std::optional<QVariantMap>& keyDict,
                                             const QString& currentVerifier, const QString& newVerifier)
{
    // A wrong current PIN is told here; the server is not asked.
    if (!currentOpens) {
        clearFlag();
        showAlert(kWrongCurrentPin.message, kWrongCurrentPin.informative);
        return;
    }
    if (!keyDict) {
        clearFlag();
        showAlert(kUnknownError, QString());
        return;
    }
    sendPinChange(*keyDict, currentVerifier, newVerifier);
}

void EncMainViewController::sendPinChange(const QVariantMap& keyDict, const QString& currentVerifier,
                                          const QString& newVerifier)
{
    showLoading();
    m_modifyRequest = m_requests.makeModify();
    m_modifyRequest->key_dict = keyDict;
    // The current PIN's verifier, never its hash: the hash is the key that wraps the key.
    m_modifyRequest->curPwdVerifierB64 = currentVerifier;
    m_modifyRequest->pwd_verifier = newVerifier;
    QPointer<EncMainViewController> self(this);
    ReplyPlan plan;
    plan.noCode = {};
    plan.otherCode = {kUnknownError, {}};
    plan.codeWords.insert(401, kWrongCurrentPin);
    plan.goOn = [self, keyDict](qint64, const QVariantMap&) {
        self->endFlow();
        if (!self->installAccepted(keyDict))
            return;
        self->setupViews();
        self->showAlert(QStringLiteral("修改PIN成功"),
                        QStringLiteral("请牢记当前的PIN, 否则只能重置PIN, 重置PIN将清空所有线上数据, 包括收藏数据!"));
    };
    sendKeyRequest(*m_modifyRequest, plan);
}

// --- Reset ---------------------------------------------------------------------------------

void EncMainViewController::beginRevert()
{
    if (m_isSetingUp)
        return;
    // Set before the warning, so nothing else starts while it is up.
    m_isSetingUp = true;
    QPointer<EncMainViewController> self(this);
    showAlert(QStringLiteral("警告"), QStringLiteral("销毁加密档案会清空线上所有加密数据, 包括收藏!"),
              [self] { self->askAccountPwd(); });
}

void EncMainViewController::askAccountPwd()
{
    auto* sheet = new EncryptAccountPwdViewController;
    m_pwdSheet = sheet;
    sheet->setCancelHandler(cancelEndsFlow(sheet));
    QPointer<EncMainViewController> self(this);
    QPointer<EncryptAccountPwdViewController> weakSheet(sheet);
    sheet->setResultHandler([self, weakSheet](const QString& pwd) {
        if (!self || weakSheet != self->m_pwdSheet)
            return;
        self->closeSheet(weakSheet);
        self->askPins(1, 2, [self, pwd](const PINViewController::StepPins& pins) {
            self->sendPublicKeyRequest(pwd, pins.value(2));
        });
    });
    sheet->presentAsSheetOver(this);
}

void EncMainViewController::sendPublicKeyRequest(const QString& pwd, const QString& newPin)
{
    showLoading();
    // The reset request seals the account password to the server key this one stores.
    m_syncKeyRequet = m_requests.makeSyncPublicKey();
    QPointer<EncMainViewController> self(this);
    ReplyPlan plan;
    plan.goOn = [self, pwd, newPin](qint64, const QVariantMap&) { self->sendRevertRequest(pwd, newPin); };
    sendKeyRequest(*m_syncKeyRequet, plan);
}

void EncMainViewController::sendRevertRequest(const QString& pwd, const QString& newPin)
{
    QPointer<EncMainViewController> self(this);
    makeKey(newPin, [self, pwd](const QVariantMap& keyDict, const QString& verifier) {
        self->m_revertRequest = self->m_requests.makeRevert();
        self->m_revertRequest->pwd = pwd;
        self->m_revertRequest->key_dict = keyDict;
        self->m_revertRequest->pwd_verifier = verifier;
        ReplyPlan plan;
        plan.codeWords.insert(-5, {QStringLiteral("您输入的帐号登录密码有误"),
                                   QStringLiteral("如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码")});
        plan.goOn = [self, keyDict](qint64, const QVariantMap&) {
            self->endFlow();
            if (!self->installAccepted(keyDict))
                return;
            DBKeeper::setLocalOnlyWithoutKeyHash(ZeroManager::sharedInstance().currentKeyHash());
            self->setupViews();
            self->showAlert(QStringLiteral("加密档案重置成功!"),
                            QStringLiteral("同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!"));
        };
        self->sendKeyRequest(*self->m_revertRequest, plan);
    });
}
