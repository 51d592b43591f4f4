#include "plugins/worker/privacyscriptengine.h"

#include "plugins/engine/luaguard.h"

#include <QElapsedTimer>
#include <QString>

#include <cmath>

namespace {

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
        job->verdict = PrivacyScriptEngine::verdictFromNumber(lua_tonumber(L, -1));
    return 0;
}

lua_State* openState()
{
    lua_State* L = luaL_newstate();
    if (!L)
        return nullptr;
    luaguard_install_hook(L);
    if (luaguard_cpcall(L, openBody, nullptr, PrivacyScriptEngine::kTestTimeLimitMs) != LUA_OK) {
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

PrivacyScriptEngine::PrivacyScriptEngine()
{
    m_state = openState();
    m_testState = openState();
}

PrivacyScriptEngine::~PrivacyScriptEngine()
{
    if (m_state)
        lua_close(m_state);
    if (m_testState)
        lua_close(m_testState);
}

int32_t PrivacyScriptEngine::verdictFromNumber(double number)
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

std::optional<QByteArray> PrivacyScriptEngine::test(const QByteArray& script)
{
    if (!m_testState)
        return QStringLiteral("脚本出错了，但没有给出错误信息").toUtf8();
    lua_settop(m_testState, 0);
    const ChunkJob job = {script.constData(), static_cast<size_t>(script.size())};
    const int status = luaguard_cpcall(m_testState, testBody, const_cast<ChunkJob*>(&job), kTestTimeLimitMs);
    std::optional<QByteArray> result;
    if (status != LUA_OK)
        result = errorMessage(m_testState, 0).toUtf8();
    lua_settop(m_testState, 0);
    return result;
}

bool PrivacyScriptEngine::load(const QByteArray& script)
{
    if (!m_state)
        return false;
    lua_settop(m_state, 0);
    const ChunkJob job = {script.constData(), static_cast<size_t>(script.size())};
    const int status = luaguard_cpcall(m_state, loadBody, const_cast<ChunkJob*>(&job), kTestTimeLimitMs);
    lua_settop(m_state, 0);
    return status == LUA_OK;
}

std::optional<int32_t> PrivacyScriptEngine::verdict(const QByteArray& from, const QByteArray& extension,
                                                    const QByteArray& content)
{
    if (!m_state)
        return 0;
    const int top = lua_gettop(m_state);
    VerdictJob job = {&from, &extension, &content, 0};
    QElapsedTimer timer;
    timer.start();
    const int status = luaguard_cpcall(m_state, verdictBody, &job, kVerdictTimeLimitMs);
    lua_settop(m_state, top);
    // A timeout fails the call at the limit, so it is late too; memory is a limit as well.
    if (timer.elapsed() >= kVerdictTimeLimitMs || status == LUA_ERRMEM)
        return std::nullopt;
    return status == LUA_OK ? job.verdict : 0;
}
