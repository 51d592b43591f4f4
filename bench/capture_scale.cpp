// CPU per text capture and per clip menu rebuild with an empty history, with a just full
// menu (30 favourites and 30 history clips) and with a year of history (30 favourites and
// 99 970 history clips: the history is not capped while nobody pulls). Goals: both at 100 000
// rows within 1.5 times their figure with an empty history (for the menu, which shows nothing
// then, within 1.5 times the just full menu); a text capture under 2 ms. CPU is the whole
// process's (the capture and the database run on their own threads).

#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/pasteboard.h"
#include "platform/userdefaults.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

std::shared_ptr<PasteboardFake> g_pasteboard;
int g_rows = -1;

// The history holds exactly this many rows (plus what earlier iterations captured): a fresh
// database file, filled in one transaction.
void historyOf(int rows)
{
    if (g_rows == rows)
        return;
    DBFetcher::resetSharedInstance();
    QFile::remove(QDir::homePath() + QStringLiteral("/Library/Nuvarel/clipDB.sqlite"));
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("BEGIN"));
        for (int i = 0; i < rows; ++i) {
            DBFetcher::executeUpdate(
                db,
                QStringLiteral("insert into History (content, timeStamp, deviceName, file_hash, type, category, "
                               "file_size, local_file_ok) values (?, ?, 'bench', ?, 'text_txt+enc', ?, 64, 1)"),
                {QStringLiteral("a clip of the past year, number %1, copied from somewhere").arg(i),
                 QVariant(qint64(1600000000) + i), QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')),
                 i < 30 ? QStringLiteral("favourite") : QStringLiteral("history")});
        }
        DBFetcher::executeUpdate(db, QStringLiteral("COMMIT"));
    });
    g_rows = rows;
}

void BM_CaptureText(benchmark::State& state)
{
    historyOf(int(state.range(0)));
    ClipController& controller = ClipController::sharedInstance();
    controller.setPollInterval(std::chrono::hours(1));
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = QStringLiteral("a line of copied text, number %1 of run %2").arg(++n).arg(state.range(0));
        g_pasteboard->offer({{QStringLiteral("text/plain"), text.toUtf8()}});
        state.ResumeTiming();
        if (!controller.catchClipboard()) {
            state.SkipWithError("nothing captured");
            break;
        }
    }
}
BENCHMARK(BM_CaptureText)->Arg(0)->Arg(60)->Arg(100000)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(300);

void BM_BuildMenu(benchmark::State& state)
{
    historyOf(int(state.range(0)));
    MenuController& menu = MenuController::sharedInstance();
    for (auto _ : state)
        menu.buildMenu();
}
BENCHMARK(BM_BuildMenu)->Arg(0)->Arg(60)->Arg(100000)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    g_pasteboard = std::make_shared<PasteboardFake>();
    Pasteboard::setGeneral(g_pasteboard);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ClipController::sharedInstance().waitForCaptures();
    DBFetcher::resetSharedInstance();
    return 0;
}
