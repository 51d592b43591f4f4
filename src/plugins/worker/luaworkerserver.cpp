#include "plugins/worker/luaworkerserver.h"

#include "plugins/appmodule.h"
#include "plugins/engine/plugin.h"
#include "plugins/worker/luaworkerprotocol.h"
#include "plugins/worker/pluginhost.h"
#include "plugins/worker/privacyscriptengine.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>

using namespace luaworker;

namespace {

const int kFd = kWorkerSocketFd;
PluginHost* g_host = nullptr;

void send(const QByteArray& payload)
{
    const QByteArray bytes = frame(payload);
    // The application is gone when this fails; the next read ends the worker.
    writeAll(kFd, bytes.constData(), bytes.size());
}

// The engine's hooks: C callbacks that let no exception out.

int loadHook(const char* folder)
{
    try {
        if (g_host && g_host->isLeftOut(folder))
            return 0;
        send(message(LoadingInfo, QByteArray(folder)));
    } catch (...) {
    }
    return 1;
}

void stateHook(lua_State* L)
{
    try {
        send(message(LoadingMain));
    } catch (...) {
    }
    registerAppModule(L);
}

void urlSink(const char* text, size_t length)
{
    try {
        send(message(OpenURL, QByteArray(text, static_cast<qsizetype>(length))));
    } catch (...) {
    }
}

void servePlugins(Reader& r, PluginHost& host)
{
    QDataStream& in = r.in();
    switch (r.kind()) {
    case ScanPlugins: {
        QByteArray user, builtin, tmp;
        QList<QByteArray> leftOut;
        in >> user >> builtin >> tmp >> leftOut;
        host.scan(user, builtin, tmp, leftOut);
        QByteArray payload = message(Listing);
        QDataStream out(&payload, QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_4);
        writeListing(out, host.listing());
        send(payload);
        return;
    }
    case ProcessText: {
        quint8 source = 0;
        QByteArray bundleId, text;
        in >> source >> bundleId >> text;
        const PluginHost::Run run = host.process(source, bundleId, text);
        send(message(TextResult, run.ran, run.text.has_value(), run.text.value_or(QByteArray())));
        return;
    }
    case InstallPackage: {
        QByteArray path;
        in >> path;
        const qint32 code = host.install(path);
        QByteArray payload = message(InstallResult, code);
        QDataStream out(&payload, QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_4);
        writeListing(out, host.listing());
        send(payload);
        return;
    }
    case RemovePlugin: {
        QByteArray bundleId;
        in >> bundleId;
        host.remove(bundleId);
        QByteArray payload = message(Listing);
        QDataStream out(&payload, QIODevice::Append);
        out.setVersion(QDataStream::Qt_6_4);
        writeListing(out, host.listing());
        send(payload);
        return;
    }
    default:
        send(message(Done));
    }
}

void servePrivacy(Reader& r, PrivacyScriptEngine& engine)
{
    QDataStream& in = r.in();
    switch (r.kind()) {
    case TestScript: {
        QByteArray script;
        in >> script;
        const std::optional<QByteArray> failure = engine.test(script);
        send(message(TestResult, !failure.has_value(), failure.value_or(QByteArray())));
        return;
    }
    case LoadScript: {
        QByteArray script;
        in >> script;
        engine.load(script);
        send(message(Done));
        return;
    }
    case Verdict: {
        QByteArray from, extension, content;
        in >> from >> extension >> content;
        const std::optional<int32_t> verdict = engine.verdict(from, extension, content);
        send(message(VerdictResult, verdict.has_value(), qint32(verdict.value_or(0))));
        return;
    }
    default:
        send(message(Done));
    }
}

}  // namespace

int LuaWorkerServer::run(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const bool plugins = strcmp(argv[1], "plugins") == 0;
    if (!plugins && strcmp(argv[1], "privacy") != 0)
        return 2;
    // Ends with the application, also when it is killed; and not at all if it is gone already.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(atoll(argv[2])))
        return 0;
    // Programs a script starts must not hold the socket open after the worker is gone.
    fcntl(kFd, F_SETFD, FD_CLOEXEC);
    signal(SIGPIPE, SIG_IGN);
    const rlimit memory = {kMemoryLimitBytes, kMemoryLimitBytes};
    setrlimit(RLIMIT_AS, &memory);
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    std::unique_ptr<PluginHost> host;
    std::unique_ptr<PrivacyScriptEngine> engine;
    if (plugins) {
        host = std::make_unique<PluginHost>();
        g_host = host.get();
        plugin_load_hook = loadHook;
        plugin_state_hook = stateHook;
        app_open_url_sink = urlSink;
    } else {
        engine = std::make_unique<PrivacyScriptEngine>();
    }

    send(message(Hello, kProtocolVersion));
    while (const std::optional<QByteArray> payload = readFrame(kFd)) {
        Reader request(*payload);
        if (plugins)
            servePlugins(request, *host);
        else
            servePrivacy(request, *engine);
    }
    g_host = nullptr;
    return 0;
}
