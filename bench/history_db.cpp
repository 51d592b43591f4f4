// The history database on the menu path: saving a clip, fetching it, listing the menu and the
// clean-up after a pull, each over a history of 120 rows. Each must stay well under a
// millisecond.

#include "platform/userdefaults.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/historymodel.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kRows = 120;

QString hashOf(int n)
{
    return QStringLiteral("%1").arg(n, 32, 16, QLatin1Char('0'));
}

HistoryModelPtr clip(int n, qint64 time)
{
    auto c = std::make_shared<HistoryModel>();
    c->setContent(QStringLiteral("clip number %1 with some text").arg(n));
    c->setFile_hash(hashOf(n));
    c->setTimestamp(QVariant(time));
    c->setHistory_id(QVariant(qint64(0)));
    c->setFile_id(QVariant(qint64(0)));
    c->setType(QStringLiteral("text_txt+enc"));
    return c;
}

void fill()
{
    DBKeeper::removeAllData();
    for (int i = 0; i < kRows; ++i)
        clip(i, 1000 + i)->save();
}

void BM_SaveExisting(benchmark::State& state)
{
    fill();
    auto c = clip(7, 5000);
    for (auto _ : state)
        c->save();
}
BENCHMARK(BM_SaveExisting);

void BM_SaveNew(benchmark::State& state)
{
    fill();
    int n = kRows;
    for (auto _ : state) {
        state.PauseTiming();
        auto c = clip(n, 9000 + n);
        ++n;
        state.ResumeTiming();
        c->save();
    }
}
BENCHMARK(BM_SaveNew);

void BM_Fetch(benchmark::State& state)
{
    fill();
    for (auto _ : state) {
        HistoryModel c;
        c.setFile_hash(hashOf(60));
        c.fetch();
        benchmark::DoNotOptimize(c.content());
    }
}
BENCHMARK(BM_Fetch);

void BM_GetAllHistory(benchmark::State& state)
{
    fill();
    for (auto _ : state) {
        const HistoryList list = DBKeeper::getAllHistory();
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(BM_GetAllHistory);

void BM_CleanupDatabase(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        fill();
        state.ResumeTiming();
        const HistoryList deleted = DBKeeper::cleanupDatabase(QStringLiteral("history"));
        benchmark::DoNotOptimize(deleted.size());
    }
}
BENCHMARK(BM_CleanupDatabase)->Iterations(50);

void BM_UnProcessHistory(benchmark::State& state)
{
    fill();
    for (auto _ : state)
        benchmark::DoNotOptimize(DBKeeper::getUnProcessHistory());
}
BENCHMARK(BM_UnProcessHistory);

// The queue hop alone: what every operation pays before its SQL.
void BM_EmptyBlock(benchmark::State& state)
{
    HistoryModel::initialize();
    for (auto _ : state)
        HistoryModel::inDatabase([](QSqlDatabase&) {});
}
BENCHMARK(BM_EmptyBlock);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DBFetcher::resetSharedInstance();
    return 0;
}
