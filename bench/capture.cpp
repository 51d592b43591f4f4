// One capture, from the pasteboard's snapshot to the stored row (hash, body, zip, row, time),
// for a text, a 1 MiB image and a 5.5 MiB file; and one poll tick that finds nothing new.
// Goals: a text under 5 ms, the file under 50 ms, an idle tick under 20 us.

#include "app/clipcontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/pasteboard.h"
#include "platform/userdefaults.h"
#include "store/clipbodylimit.h"
#include "store/clipfilemanager.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

std::shared_ptr<PasteboardFake> g_pasteboard;
QString g_home;

ClipController& watcher()
{
    ClipController& controller = ClipController::sharedInstance();
    controller.setPollInterval(std::chrono::hours(1));
    return controller;
}

// Keeps the library folder from growing over the iterations.
void clearHistory()
{
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::removeAllData());
}

void capture(benchmark::State& state, ClipController& controller)
{
    if (!controller.catchClipboard())
        state.SkipWithError("nothing captured");
}

void BM_CaptureText(benchmark::State& state)
{
    ClipController& controller = watcher();
    clearHistory();
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = QStringLiteral("a line of copied text, number %1, with a link https://example.org").arg(++n);
        g_pasteboard->offer({{QStringLiteral("text/plain"), text.toUtf8()}});
        state.ResumeTiming();
        capture(state, controller);
    }
    clearHistory();
}
BENCHMARK(BM_CaptureText)->Unit(benchmark::kMillisecond);

// A picture of 512 x 512 pixels: 1 MiB of pixel data, its TIFF about as large.
void BM_CaptureImage(benchmark::State& state)
{
    ClipController& controller = watcher();
    clearHistory();
    QImage image(512, 512, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x / 2, y / 2, int(random.bounded(64)) + 96, 255));
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clearHistory();
        ++n;
        image.setPixel(0, 0, qRgba(n & 0xff, (n >> 8) & 0xff, 0, 255));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        g_pasteboard->offer({{QStringLiteral("image/png"), png}});
        state.ResumeTiming();
        capture(state, controller);
    }
    clearHistory();
}
BENCHMARK(BM_CaptureImage)->Unit(benchmark::kMillisecond);

// A file of the largest size captured, 5767168 bytes, of mixed text-like content.
void BM_CaptureFile(benchmark::State& state)
{
    ClipController& controller = watcher();
    clearHistory();
    const QString path = g_home + QStringLiteral("/large export.csv");
    QByteArray contents;
    contents.reserve(ClipBodyLimit::kBytes);
    QRandomGenerator random(11);
    while (contents.size() < ClipBodyLimit::kBytes)
        contents += QByteArray::number(random.generate()) + ',' + QByteArray::number(random.bounded(1000)) + '\n';
    contents.truncate(ClipBodyLimit::kBytes);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clearHistory();
        const QByteArray stamp = QByteArray::number(++n).rightJustified(8, '0');
        contents.replace(0, stamp.size(), stamp);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(contents);
        file.close();
        g_pasteboard->offer({{QStringLiteral("text/uri-list"), QUrl::fromLocalFile(path).toEncoded() + "\r\n"}});
        state.ResumeTiming();
        capture(state, controller);
    }
    clearHistory();
}
BENCHMARK(BM_CaptureFile)->Unit(benchmark::kMillisecond)->Iterations(30);

// What the timer costs every 0.6 s while nothing is copied.
void BM_IdlePollTick(benchmark::State& state)
{
    ClipController& controller = watcher();
    g_pasteboard->offer({{QStringLiteral("text/plain"), "already seen"}});
    controller.seekClipboard();
    controller.waitForCaptures();
    const int reads = g_pasteboard->snapshotCount();
    for (auto _ : state)
        controller.seekClipboard();
    if (g_pasteboard->snapshotCount() != reads)
        state.SkipWithError("an idle tick read the pasteboard");
}
BENCHMARK(BM_IdlePollTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    g_home = home.path();
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
