// Shared helpers on the capture path: hashing a body and summarising a text.
#include "store/clipbodylimit.h"
#include "store/digest.h"
#include "store/utils.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

static void BM_Md5OfFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("body"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(static_cast<int>(state.range(0)), 'x'));
    f.close();
    for (auto _ : state)
        benchmark::DoNotOptimize(md5HexOfFile(path));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5OfFile)->Arg(4096)->Arg(ClipBodyLimit::kBytes);

static void BM_TextSummary(benchmark::State& state)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line   with  spaces %1\n").arg(i);
    for (auto _ : state)
        benchmark::DoNotOptimize(clipTextSummary(text));
}
BENCHMARK(BM_TextSummary);

static void BM_IsSecret(benchmark::State& state)
{
    const QString text(4000, QLatin1Char('a'));
    for (auto _ : state)
        benchmark::DoNotOptimize(Utils::isSecret(text));
}
BENCHMARK(BM_IsSecret);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
