// The privacy verdict (run on every capture) and one plugin call on a short text, through
// the Lua worker process and in this process, in the same run; and the start of a worker.
// Goals: a verdict through the worker under 0.5 ms median, a worker start under 50 ms.

#include "platform/bundle.h"
#include "platform/userdefaults.h"
#include "plugins/advanceprivacymanager.h"
#include "plugins/luaworkerclient.h"
#include "plugins/pluginmanager.h"
#include "plugins/worker/pluginhost.h"
#include "plugins/worker/privacyscriptengine.h"
#include "store/pathhelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const QByteArray kText = "Meet at 10, room 4B";

QByteArray defaultScript()
{
    QFile file(Bundle::pathForResource(QStringLiteral("privacy"), QStringLiteral("lua")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void makePlugin()
{
    const QString folder = PathHelper::getPluginsBaseDir() + QStringLiteral("/upper.cplugin");
    QDir().mkpath(folder);
    QFile info(folder + QStringLiteral("/info.lua"));
    info.open(QIODevice::WriteOnly);
    info.write("plugin_name = 'Upper'\nplugin_bundle_id = 'bench.upper'\n");
    info.close();
    QFile main(folder + QStringLiteral("/main.lua"));
    main.open(QIODevice::WriteOnly);
    main.write("function main(t) return t:upper() end\n");
}

void BM_VerdictInProcess(benchmark::State& state)
{
    PrivacyScriptEngine engine;
    if (!engine.load(defaultScript()))
        state.SkipWithError("default script did not load");
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.verdict("text", "", kText));
}
BENCHMARK(BM_VerdictInProcess);

void BM_VerdictThroughWorker(benchmark::State& state)
{
    AdvancePrivacyManager& manager = AdvancePrivacyManager::sharedInstance();
    const QString text = QString::fromUtf8(kText);
    for (auto _ : state)
        benchmark::DoNotOptimize(manager.saveOptionFrom(QStringLiteral("text"), QString(), text));
}
BENCHMARK(BM_VerdictThroughWorker);

void BM_PluginCallInProcess(benchmark::State& state)
{
    PluginHost host;
    host.scan(QFile::encodeName(PathHelper::getPluginsBaseDir()), QByteArray(),
              QFile::encodeName(PathHelper::getTmpDir()), {});
    for (auto _ : state)
        benchmark::DoNotOptimize(host.process(luaworker::UserSource, "bench.upper", kText));
}
BENCHMARK(BM_PluginCallInProcess);

// The whole call as the paste makes it: through the plugin queue and the worker, with the
// use count kept and stored.
void BM_PluginCallThroughWorker(benchmark::State& state)
{
    PluginManager& manager = PluginManager::sharedInstance();
    const PluginObjectPtr plugin = manager.listPlugins().value(QStringLiteral("bench.upper"));
    if (!plugin)
        state.SkipWithError("plugin not listed");
    const QString text = QString::fromUtf8(kText);
    for (auto _ : state)
        benchmark::DoNotOptimize(manager.processText(text, plugin));
}
BENCHMARK(BM_PluginCallThroughWorker);

void BM_WorkerStart(benchmark::State& state)
{
    LuaWorkerClient client(LuaWorkerClient::Role::Privacy);
    for (auto _ : state) {
        if (!client.start())
            state.SkipWithError("no worker");
        state.PauseTiming();
        client.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WorkerStart)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    // Only the bench's own plugin, not the shipped ones.
    QDir().mkpath(home.path() + QStringLiteral("/res/plugins.bundle"));
    Bundle::setResourceOverride(home.path() + QStringLiteral("/res"));
    makePlugin();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
