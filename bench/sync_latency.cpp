// Time from a copy on device A to the clip's row on device B: capture, encrypted push to the
// web service double, its MQTT announcement through a real broker, B's fetch and decryption.
// Each device is a process of its own; everything runs on loopback on this machine.

#include <benchmark/benchmark.h>

#ifdef NUVAREL_BENCH_WITH_DEVICES

#include "store/digest.h"
#include "support/mosquittobroker.h"
#include "support/syncdevice/devicedriver.h"
#include "support/webservice/webservicedouble.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

syncdevice::DeviceDriver* g_a = nullptr;
syncdevice::DeviceDriver* g_b = nullptr;

void BM_CopyOnAToRowOnB(benchmark::State& state)
{
    static int counter = 0;
    for (auto _ : state) {
        const QString text = QStringLiteral("latency sample %1").arg(++counter);
        g_b->send(QStringLiteral("waitrow ") + md5HexOfString(text));
        const QString copied = g_a->call(QStringLiteral("capture ") + text);
        const QString seen = g_b->answer();
        if (!copied.startsWith(QStringLiteral("ok")) || !seen.startsWith(QStringLiteral("ok"))) {
            state.SkipWithError("the clip did not arrive");
            return;
        }
        const qint64 copiedAt = copied.section(QLatin1Char(' '), 2, 2).toLongLong();
        const qint64 seenAt = seen.section(QLatin1Char(' '), 1, 1).toLongLong();
        state.SetIterationTime(double(seenAt - copiedAt) / 1000.0);
    }
}
BENCHMARK(BM_CopyOnAToRowOnB)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);

bool expectOk(syncdevice::DeviceDriver& device, const QString& command)
{
    const QString answer = device.call(command);
    if (answer.startsWith(QStringLiteral("ok")))
        return true;
    std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(command), qPrintable(answer), qPrintable(device.output()));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MosquittoBroker broker;
    webdouble::WebServiceDouble server;
    if (!broker.start() || !server.start() || !server.connectBroker("127.0.0.1", broker.port())) {
        std::fprintf(stderr, "the broker or the web service double did not start\n");
        return 1;
    }
    server.addAccount(QStringLiteral("bench@example.com"), QStringLiteral("pw"));
    auto a = std::make_unique<syncdevice::DeviceDriver>(server.baseURL(), broker.port(), QString(32, u'a'));
    auto b = std::make_unique<syncdevice::DeviceDriver>(server.baseURL(), broker.port(), QString(32, u'b'));
    const QString login = QStringLiteral("login bench@example.com pw");
    if (!a->started() || !b->started() || !expectOk(*a, login) || !expectOk(*a, QStringLiteral("setupkey 2468"))
        || !expectOk(*b, login) || !expectOk(*b, QStringLiteral("unlock 2468")))
        return 1;
    g_a = a.get();
    g_b = b.get();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#else

int main()
{
    return 0;
}

#endif
