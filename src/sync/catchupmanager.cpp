#include "sync/catchupmanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "service/zeromanager.h"
#include "store/notificationnames.h"
#include "sync/uploadtriggers.h"
#include "sync/pullclipmanager.h"

#include <QCoreApplication>
#include <QObject>

CatchUpManager& CatchUpManager::sharedInstance()
{
    // Never destroyed: pulls in flight call back into it until the process ends.
    static CatchUpManager* instance = new CatchUpManager;
    return *instance;
}

CatchUpManager::CatchUpManager()
{
    m_context = new QObject;
    if (QCoreApplication::instance() && m_context->thread() != QCoreApplication::instance()->thread())
        m_context->moveToThread(QCoreApplication::instance()->thread());
}

void CatchUpManager::observeKeyChanges()
{
    if (m_observing)
        return;
    m_observing = true;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(NotificationName::ZeroChanged, m_context, [this](const Notification&) { keyChanged(); });
    center.addObserver(NotificationName::UserLogouted, m_context, [this](const Notification&) { m_keyHash.reset(); });
    // The key is not read here: at start that may wait on the keychain, on the main thread.
}

CatchUpManager::~CatchUpManager() = default;

void CatchUpManager::pull(Done done)
{
    if (done)
        m_waiting.push_back(std::move(done));
    if (m_running) {
        m_again = true;
        return;
    }
    start();
}

void CatchUpManager::start()
{
    m_running = true;
    m_again = false;
    m_current = std::move(m_waiting);
    m_waiting.clear();
    const quint64 generation = m_generation;
    // Kept by its callback until it has run.
    auto request = std::make_shared<PullClipManager>();
    request->request([this, request, generation](const QVariant&, int, const std::optional<RequestError>& error) mutable {
        request.reset();
        m_lastPullFailed = error.has_value();
        // Never inside request(), which answers at once when no pull may be sent.
        dispatch::mainAsync([this, generation] { finished(generation); });
    });
}

void CatchUpManager::finished(quint64 generation)
{
    if (generation != m_generation)
        return;
    m_running = false;
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
    UploadTriggers::wakeAll();
    std::vector<Done> done = std::move(m_current);
    m_current.clear();
    if (m_again)
        start();
    for (Done& d : done)
        d();
}

void CatchUpManager::keyChanged()
{
    ZeroManager& zero = ZeroManager::sharedInstance();
    const std::optional<QString> keyHash = zero.state() != 0 ? zero.currentKeyHash() : std::nullopt;
    if (keyHash == m_keyHash)
        return;
    m_keyHash = keyHash;
    // A key set up here or unlocked on a new device: the account's history can be read now.
    if (m_keyHash)
        pull();
}

void CatchUpManager::resetForTesting()
{
    NotificationCenter::defaultCenter().removeObserversOf(m_context);
    m_observing = false;
    ++m_generation;
    m_running = false;
    m_again = false;
    m_current.clear();
    m_waiting.clear();
    m_keyHash.reset();
}
