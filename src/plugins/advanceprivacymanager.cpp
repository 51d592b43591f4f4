#include "plugins/advanceprivacymanager.h"

#include "platform/bundle.h"
#include "plugins/engine/luaguard.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"

#include <QByteArray>
#include <QFile>

#include <cmath>

namespace {

const QString kScriptKey = DefaultsKey::PrivacyScript;

// The functions run by luaguard_cpcall are plain C: Lua errors longjmp through them.

int openBody(lua_State* L)
{
    luaL_openlibs(L);
    luaguard_text_only_require(L);
    return 0;
}

struct ChunkJob {
    const char* script;
    size_t length;
};

// Loads and runs a chunk, then calls main("text", "", ""): the test of a candidate.
int testBody(lua_State* L)
{
    const ChunkJob* job = static_cast<const ChunkJob*>(lua_touserdata(L, 1));
    // Named by its own text, as luaL_loadstring names a chunk.
    if (luaL_loadbufferx(L, job->script, job->length, job->script, "t") != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, 0);
    lua_getglobal(L, "main");
    lua_pushliteral(L, "text");
    lua_pushliteral(L, "");
    lua_pushliteral(L, "");
    lua_call(L, 3, 1);
    return 0;
}

int loadBody(lua_State* L)
{
    const ChunkJob* job = static_cast<const ChunkJob*>(lua_touserdata(L, 1));
    if (luaL_loadbufferx(L, job->script, job->length, job->script, "t") != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, 0);
    return 0;
}

struct VerdictJob {
    const QByteArray* from;
    const QByteArray* extension;
    const QByteArray* content;
    int32_t verdict;
};

int verdictBody(lua_State* L)
{
    VerdictJob* job = static_cast<VerdictJob*>(lua_touserdata(L, 1));
    lua_getglobal(L, "main");
    // With their lengths: a NUL inside a text does not cut it.
    lua_pushlstring(L, job->from->constData(), static_cast<size_t>(job->from->size()));
    lua_pushlstring(L, job->extension->constData(), static_cast<size_t>(job->extension->size()));
    lua_pushlstring(L, job->content->constData(), static_cast<size_t>(job->content->size()));
    lua_call(L, 3, 1);
    if (lua_isnumber(L, -1))
        job->verdict = AdvancePrivacyManager::verdictFromNumber(lua_tonumber(L, -1));
    return 0;
}

lua_State* openState()
{
    lua_State* L = luaL_newstate();
    if (!L)
        return nullptr;
    luaguard_install_hook(L);
    if (luaguard_cpcall(L, openBody, nullptr, AdvancePrivacyManager::kTestTimeLimitMs) != LUA_OK) {
        lua_close(L);
        return nullptr;
    }
    lua_settop(L, 0);
    return L;
}

// The error value on top of the stack as a message for the user, never empty: a failed
// test must not look like a passed one.
QString errorMessage(lua_State* L, int base)
{
    if (lua_gettop(L) <= base)
        return QStringLiteral("脚本出错了，但没有给出错误信息");
    const int type = lua_type(L, -1);
    if (type == LUA_TSTRING) {
        size_t length = 0;
        const char* text = lua_tolstring(L, -1, &length);
        if (length > 0)
            return QString::fromUtf8(text, static_cast<qsizetype>(length));
    } else if (type == LUA_TNUMBER) {
        return QString::number(lua_tonumber(L, -1), 'g', 14);
    }
    return QStringLiteral("脚本出错了，但没有给出错误信息 (错误值: %1)").arg(QLatin1String(lua_typename(L, type)));
}

}  // namespace

AdvancePrivacyManager& AdvancePrivacyManager::sharedInstance()
{
    // Never released: verdicts may be asked for until the process ends.
    static AdvancePrivacyManager* instance = new AdvancePrivacyManager();
    return *instance;
}

AdvancePrivacyManager::AdvancePrivacyManager()
{
    m_state = openState();
    m_testState = openState();
    loadScript();
}

AdvancePrivacyManager::~AdvancePrivacyManager()
{
    QMutexLocker lock(&m_lock);
    if (m_state)
        lua_close(m_state);
    if (m_testState)
        lua_close(m_testState);
}

int32_t AdvancePrivacyManager::verdictFromNumber(double number)
{
    if (std::isnan(number))
        return 0;
    const double whole = std::trunc(number);
    if (whole >= 2147483647.0)
        return INT32_MAX;
    if (whole <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(whole);
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

void AdvancePrivacyManager::loadScript()
{
    QMutexLocker lock(&m_lock);
    if (!m_state)
        return;
    lua_settop(m_state, 0);
    std::optional<QString> chosen = scriptContent();
    // The stored text stays stored (the editor shows it again); only the default runs.
    if (!chosen || testScript(*chosen))
        chosen = defaultScript();
    if (!chosen)
        return;
    const QByteArray script = chosen->toUtf8();
    const ChunkJob job = {script.constData(), static_cast<size_t>(script.size())};
    luaguard_cpcall(m_state, loadBody, const_cast<ChunkJob*>(&job), kTestTimeLimitMs);
    lua_settop(m_state, 0);
}

std::optional<QString> AdvancePrivacyManager::testScript(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("不能为空!");
    QMutexLocker lock(&m_lock);
    if (!m_testState)
        return QStringLiteral("脚本出错了，但没有给出错误信息");
    lua_settop(m_testState, 0);
    const QByteArray script = text.toUtf8();
    const ChunkJob job = {script.constData(), static_cast<size_t>(script.size())};
    const int status = luaguard_cpcall(m_testState, testBody, const_cast<ChunkJob*>(&job), kTestTimeLimitMs);
    std::optional<QString> result;
    if (status != LUA_OK)
        result = errorMessage(m_testState, 0);
    lua_settop(m_testState, 0);
    return result;
}

int32_t AdvancePrivacyManager::saveOptionFrom(const QString& from, const QString& extension, const QString& content)
{
    const QByteArray f = from.toUtf8();
    const QByteArray e = extension.toUtf8();
    const QByteArray c = content.toUtf8();
    QMutexLocker lock(&m_lock);
    if (!m_state)
        return 0;
    const int top = lua_gettop(m_state);
    VerdictJob job = {&f, &e, &c, 0};
    const int status = luaguard_cpcall(m_state, verdictBody, &job, kVerdictTimeLimitMs);
    lua_settop(m_state, top);
    return status == LUA_OK ? job.verdict : 0;
}

QString AdvancePrivacyManager::luaVersion()
{
    QMutexLocker lock(&m_lock);
    const lua_Number* version = lua_version(m_state);
    return QString::number(version ? *version : 0.0, 'f', 0);
}
