#include "app/appdelegate.h"

#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "app/shortcutcontroller.h"
#include "app/statusbarcontroller.h"
#include "platform/dispatch.h"
#include "platform/powerevents.h"
#include "plugins/advanceprivacymanager.h"
#include "service/checkupdaterequestmanager.h"
#include "service/initrequestmanager.h"
#include "service/replyvalue.h"
#include "service/servertext.h"
#include "store/clipbodysweeper.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "store/historyschema.h"
#include "sync/catchupmanager.h"
#include "sync/mqttmanager.h"

#include <QDesktopServices>
#include <QMutex>
#include <QWaitCondition>
#include <QVariantMap>

#include <spdlog/spdlog.h>

namespace {

// The whole-file check, the sweep and the compaction after start run on the global pool. Termination skips what has not
// begun and waits for what has, so none of it outlives the database.
class StartupCare {
public:
    void begin()
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = false;
        ++m_running;
    }
    void end()
    {
        QMutexLocker lock(&m_mutex);
        --m_running;
        m_ended.wakeAll();
    }
    bool running()
    {
        QMutexLocker lock(&m_mutex);
        return m_running > 0;
    }
    bool stopping()
    {
        QMutexLocker lock(&m_mutex);
        return m_stopping;
    }
    // Never waits for the main thread's work: the care itself never does.
    void stopAndWait()
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        while (m_running > 0)
            m_ended.wait(&m_mutex);
    }

private:
    QMutex m_mutex;
    QWaitCondition m_ended;
    int m_running = 0;
    bool m_stopping = false;
};

StartupCare& startupCare()
{
    // Never destroyed: a pool thread may still be leaving it at exit.
    static StartupCare* care = new StartupCare;
    return *care;
}

}  // namespace

AppDelegate::Services AppDelegate::Services::system()
{
    Services s;
    s.powerEvents = []() -> PowerEvents& { return PowerEvents::current(); };
    s.isLogined = [] { return ConfigureManager::sharedInstance().isLogined(); };
    s.connectMqtt = [] { MqttManager::sharedInstance().connect(); };
    // Listens for a key that becomes usable from the start, set up or unlocked later.
    s.makeCatchUp = [] { CatchUpManager::sharedInstance().observeKeyChanges(); };
    s.closeMqtt = [] { MqttManager::sharedInstance().close(); };
    s.makeInitRequest = [] { return std::make_shared<InitRequestManager>(); };
    s.makeCheckUpdateRequest = [] { return std::make_shared<CheckUpdateRequestManager>(); };
    s.makeStatusItem = [] { return StatusBarController::sharedInstance(); };
    s.makePrivacyEngine = [] { AdvancePrivacyManager::sharedInstance(); };
    s.makeShortcutController = [] { ShortcutController::sharedInstance(); };
    s.openHistory = [] {
        // The menu reads the history once the file is open: the integrity check of a large
        // history must not keep the main thread (the menu, the hotkey, the poll) waiting.
        MenuController::sharedInstance().holdHistoryReads();
        dispatch::globalAsync([] {
            HistoryModel::initialize();
            spdlog::info("history open");
            dispatch::mainAsync([] { MenuController::sharedInstance().releaseHistoryReads(); });
        });
    };
    s.makeClipController = [] { ClipController::sharedInstance(); };
    s.tidyHistory = [] {
        ClipController* const watcher = &ClipController::sharedInstance();
        MenuController* const menu = &MenuController::sharedInstance();
        startupCare().begin();
        dispatch::globalAsync([watcher, menu] {
            // Beside the first capture, on a reading connection of its own: the opening
            // checked every page, this checks that each index matches its table.
            HistoryModel::initialize();
            if (!startupCare().stopping())
                DBFetcher::sharedInstance().checkWholeFile();
            // After the first capture, so what was copied just before start is stored first.
            watcher->waitForCaptures();
            if (!startupCare().stopping()) {
                // Safe beside later captures: a capture stores its body and its row under the
                // body lock the sweep holds from reading the rows to removing files, so a body
                // being stored is never taken for a leftover. Its reads are short blocks.
                ClipBodySweeper::removeBodiesWithoutRows();
                // Changes no row, only the file's layout. An older file is turned, once, by a
                // VACUUM that holds the queue: no rebuild waits behind it.
                if (!startupCare().stopping()) {
                    menu->holdHistoryReads();
                    HistoryModel::inDatabase([](QSqlDatabase& db) { HistorySchema::compact(db); });
                    menu->releaseHistoryReads();
                }
                // Then the free pages go back a step per block.
                bool more = true;
                while (more && !startupCare().stopping()) {
                    more = false;
                    HistoryModel::inDatabase([&](QSqlDatabase& db) { more = HistorySchema::compactStep(db); });
                }
                spdlog::info("start-up care of the history finished");
            }
            startupCare().end();
        });
    };
    s.buildMenu = [] { MenuController::sharedInstance().buildMenu(); };
    s.finishCaptures = [] {
        startupCare().stopAndWait();
        ClipController::sharedInstance().waitForCaptures();
    };
    s.finishMqtt = [] { MqttManager::finishIfMade(); };
    s.closeDatabase = [] { DBFetcher::sharedInstance().close(); };
    s.openURL = [](const QUrl& url) {
        if (!QDesktopServices::openUrl(url))
            spdlog::warn("could not open {}", url.toString().toStdString());
    };
    s.timers = TimerSource::system();
    return s;
}

bool AppDelegate::startUpCareRunning()
{
    return startupCare().running();
}

AppDelegate::AppDelegate(Services services)
    : m_services(std::move(services))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    m_launched = true;
    if (m_services.openHistory)
        m_services.openHistory();
    ClipAppHelper::sharedInstance().setDelegate(shared_from_this());
    regSystemNotifications();
    if (m_services.makeCatchUp)
        m_services.makeCatchUp();
    if (m_services.isLogined())
        m_services.connectMqtt();
    initRequest();
    m_statusController = m_services.makeStatusItem();
    m_services.makePrivacyEngine();
    m_services.makeShortcutController();
    m_services.makeClipController();
    if (m_services.tidyHistory)
        m_services.tidyHistory();
    m_services.buildMenu();
    checkVersion();
    spdlog::info("launch finished");
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_updateCheckTimer.reset();
    // A capture still queued writes rows and files: closing first would lose it. Before
    // launch there is no watcher to wait for.
    if (m_launched) {
        m_services.finishCaptures();
        // Only launching connects it.
        if (m_services.finishMqtt)
            m_services.finishMqtt();
    }
    m_services.closeDatabase();
}

void AppDelegate::regSystemNotifications()
{
    PowerEvents& power = m_services.powerEvents();
    QObject::connect(&power, &PowerEvents::didWake, &m_context, [this] { receiveWakeNotif(); });
    QObject::connect(&power, &PowerEvents::willSleep, &m_context, [this] { receiveSleepNotif(); });
}

void AppDelegate::receiveWakeNotif()
{
    spdlog::info("receiveSleepNote: {}", "didWake");
    m_services.connectMqtt();
    initRequest();
    checkVersion();
}

void AppDelegate::receiveSleepNotif()
{
    spdlog::info("receiveSleepNote: {}", "willSleep");
    m_services.closeMqtt();
}

void AppDelegate::initRequest()
{
    m_clipInitManager = m_services.makeInitRequest();
    if (m_clipInitManager)
        m_clipInitManager->request([](const QVariant&, int, const std::optional<RequestError>&) {});
}

void AppDelegate::checkVersion()
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    m_services.timers->after(kFirstCheckDelay, [weak] {
        const auto self = weak.lock();
        if (!self || self->m_terminated)
            return;
        self->m_updateCheckTimer = self->m_services.timers->repeating(kCheckInterval, [weak] {
            if (const auto delegate = weak.lock())
                delegate->startCheckVersion();
        });
        self->startCheckVersion();
    });
}

void AppDelegate::startCheckVersion()
{
    m_updateCheckRequest = m_services.makeCheckUpdateRequest();
    if (!m_updateCheckRequest)
        return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    m_updateCheckRequest->request(
        [weak](const QVariant& result, int status, const std::optional<RequestError>& error) {
            if (const auto self = weak.lock())
                self->updateCheckFinished(result, status, error);
        });
}

void AppDelegate::updateCheckFinished(const QVariant& result, int status, const std::optional<RequestError>& error)
{
    Q_UNUSED(status);
    if (error)
        return;
    if (result.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap reply = result.toMap();
    const auto code = ReplyValue::integer(reply.value(QStringLiteral("code")));
    if (!code || *code != 0)
        return;

    std::optional<QString> version;
    const QVariant data = reply.value(QStringLiteral("data"));
    if (data.typeId() == QMetaType::QVariantMap)
        version = ServerText::bounded(data.toMap().value(QStringLiteral("version")), ServerText::kMaxVersionChars);
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    if (version)
        defaults.setValue(QString::fromLatin1(kNewVersionKey), *version);
    else
        defaults.remove(QString::fromLatin1(kNewVersionKey));

    auto buildMenu = m_services.buildMenu;
    dispatch::mainAsync([buildMenu] {
        if (buildMenu)
            buildMenu();
    });
}

void AppDelegate::openURL(const QUrl& url)
{
    if (m_services.openURL)
        m_services.openURL(url);
}
