#include "plugins/advanceprivacymanager.h"

#include "platform/bundle.h"
#include "plugins/luaworkerclient.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"

#include <QByteArray>
#include <QFile>

#include <spdlog/spdlog.h>

using namespace luaworker;

namespace {

const QString kScriptKey = DefaultsKey::PrivacyScript;

// Rounds of loadScript that may each lose a worker: enough for the stored script's three,
// then the default's.
constexpr int kLoadRounds = AdvancePrivacyManager::kLostLoadsBeforeDefault + 2;

QString lostMessage(LuaWorkerClient::Outcome outcome)
{
    switch (outcome) {
    case LuaWorkerClient::Outcome::Late:
        return QStringLiteral("脚本运行超时，已被强行停止");
    case LuaWorkerClient::Outcome::Lost:
        return QStringLiteral("脚本运行时，运行它的进程意外退出了");
    default:
        return QStringLiteral("无法启动脚本的运行环境");
    }
}

}  // namespace

AdvancePrivacyManager& AdvancePrivacyManager::sharedInstance()
{
    // Never released: verdicts may be asked for until the process ends.
    static AdvancePrivacyManager* instance = new AdvancePrivacyManager();
    return *instance;
}

AdvancePrivacyManager::AdvancePrivacyManager()
    : m_worker(std::make_unique<LuaWorkerClient>(LuaWorkerClient::Role::Privacy))
{
    loadScript();
}

AdvancePrivacyManager::~AdvancePrivacyManager()
{
    QMutexLocker lock(&m_lock);
    m_worker->stop();
}

std::optional<QString> AdvancePrivacyManager::defaultScript() const
{
    const QString path = Bundle::pathForResource(QStringLiteral("privacy"), QStringLiteral("lua"));
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

std::optional<QString> AdvancePrivacyManager::scriptContent() const
{
    if (auto stored = ClipUserDefaults::standardUserDefaults().string(kScriptKey))
        return stored;
    return defaultScript();
}

void AdvancePrivacyManager::setScriptContent(const QString& text)
{
    QMutexLocker lock(&m_lock);
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, text);
    loadScript();
}

AdvancePrivacyManager::Step AdvancePrivacyManager::testOnWorker(const QByteArray& script, QString* message)
{
    const LuaWorkerClient::Result r = m_worker->call(luaworker::message(TestScript, script), kTestTimeLimitMs + kGraceMs);
    if (r.outcome == LuaWorkerClient::Outcome::Replied) {
        Reader reply(r.reply);
        bool passed = false;
        QByteArray text;
        reply.in() >> passed >> text;
        if (reply.kind() == TestResult && reply.ok()) {
            if (!passed && message)
                *message = text.isEmpty() ? QStringLiteral("脚本出错了，但没有给出错误信息") : QString::fromUtf8(text);
            return passed ? Step::Passed : Step::Failed;
        }
        m_worker->stop();
        if (message)
            *message = lostMessage(LuaWorkerClient::Outcome::Lost);
        return Step::Lost;
    }
    if (message)
        *message = lostMessage(r.outcome);
    return r.outcome == LuaWorkerClient::Outcome::Unavailable ? Step::Failed : Step::Lost;
}

bool AdvancePrivacyManager::loadOnWorker(const QByteArray& script)
{
    const LuaWorkerClient::Result r = m_worker->call(message(LoadScript, script), kTestTimeLimitMs + kGraceMs);
    if (r.outcome != LuaWorkerClient::Outcome::Replied)
        return false;
    if (Reader(r.reply).kind() != Done) {
        m_worker->stop();
        return false;
    }
    return true;
}

void AdvancePrivacyManager::noteLostLoad(const QString& script)
{
    if (script != m_lostScript) {
        m_lostScript = script;
        m_lostLoads = 0;
    }
    if (++m_lostLoads >= kLostLoadsBeforeDefault) {
        spdlog::warn("privacy script stopped its worker {} times while loading; the default runs instead",
                     m_lostLoads);
        m_replacedScript = script;
    }
}

void AdvancePrivacyManager::loadScript()
{
    QMutexLocker lock(&m_lock);
    for (int round = 0; round < kLoadRounds; ++round) {
        if (!m_worker->running() && !m_worker->start())
            return;
        std::optional<QString> candidate = scriptContent();
        const std::optional<QString> fallback = defaultScript();
        if (candidate && m_replacedScript == candidate)
            candidate = fallback;
        std::optional<QString> chosen = candidate;
        // The stored text stays stored (the editor shows it again); only the default runs.
        if (candidate) {
            const Step step = testOnWorker(candidate->toUtf8(), nullptr);
            if (step == Step::Lost)
                noteLostLoad(*candidate);
            if (step != Step::Passed)
                chosen = fallback;
        }
        if (!chosen)
            return;
        if (!m_worker->running() && !m_worker->start())
            return;
        if (loadOnWorker(chosen->toUtf8())) {
            if (chosen == m_lostScript)
                m_lostLoads = 0;  // loaded without losing the worker: no longer "in a row"
            return;
        }
        if (m_worker->running())
            return;  // answered: the chunk failed, and the run state keeps its main
        noteLostLoad(*chosen);
    }
}

bool AdvancePrivacyManager::ensureWorker()
{
    if (m_worker->running())
        return true;
    // A fresh worker has nothing loaded yet.
    loadScript();
    return m_worker->running();
}

std::optional<QString> AdvancePrivacyManager::testScript(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("不能为空!");
    QMutexLocker lock(&m_lock);
    if (!ensureWorker())
        return lostMessage(LuaWorkerClient::Outcome::Unavailable);
    QString message;
    if (testOnWorker(text.toUtf8(), &message) == Step::Passed)
        return std::nullopt;
    return message;
}

int32_t AdvancePrivacyManager::saveOptionFrom(const QString& from, const QString& extension, const QString& content)
{
    const QByteArray request = message(Verdict, from.toUtf8(), extension.toUtf8(), content.toUtf8());
    QMutexLocker lock(&m_lock);
    // Without an answer in time the script may have refused the clip: kept here, as a secret
    // (never uploaded), rather than let through.
    const auto failClosed = [](const char* why) {
        spdlog::warn("privacy verdict {}: the clip is kept as secret", why);
        return kSecretVerdict;
    };
    if (!ensureWorker())
        return failClosed("not asked: the script's worker could not be started");
    const LuaWorkerClient::Result r = m_worker->call(request, kVerdictTimeLimitMs + kGraceMs);
    if (r.outcome == LuaWorkerClient::Outcome::Late)
        return failClosed("not answered in time; the worker was stopped");
    if (r.outcome == LuaWorkerClient::Outcome::Lost)
        return failClosed("lost: the script's worker ended");
    if (r.outcome != LuaWorkerClient::Outcome::Replied)
        return failClosed("not asked: the request could not be sent");
    Reader reply(r.reply);
    bool answered = false;
    qint32 verdict = 0;
    reply.in() >> answered >> verdict;
    if (reply.kind() != VerdictResult || !reply.ok()) {
        m_worker->stop();
        return failClosed("unreadable: the worker's answer was not a verdict");
    }
    if (!answered)
        return failClosed("not given: the script ran past its time or memory limit");
    return verdict;
}

QString AdvancePrivacyManager::luaVersion()
{
    // The worker runs the same Lua library the program links.
    const lua_Number* version = lua_version(nullptr);
    return QString::number(version ? *version : 0.0, 'f', 0);
}
