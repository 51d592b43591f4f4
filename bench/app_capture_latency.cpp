// The real program on a private Xvfb, as a user runs it:
// - from another client's copy (xclip) to the clip's row committed in the history file, for
//   20 copies at irregular spacing (so they do not lock onto a timer's phase). Goal: median
//   under 15 ms, p90 under 30 ms. Counted from xclip's start, and from the moment xclip owns
//   the clipboard (its foreground process exits then);
// - its memory after start (RSS and PSS) and its CPU while idle, no worse than before.

#include "support/xserver/privatexserver.h"
#include "xclipspawn.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString g_home;
QProcess* g_app = nullptr;

QString libraryPath(const QString& name)
{
    return g_home + QStringLiteral("/Library/Nuvarel/") + name;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

// Sum of the on-CPU time of every thread of the process, in nanoseconds.
qint64 cpuNanoseconds(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray line = readFile(tasks.filePath(task) + QStringLiteral("/schedstat"));
        total += line.split(' ').value(0).trimmed().toLongLong();
    }
    return total;
}

// A field of /proc/PID/smaps_rollup in MiB.
double rollupMiB(qint64 pid, const QByteArray& field)
{
    for (const QByteArray& line : readFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)).split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void BM_IdleMemoryAndCpu(benchmark::State& state)
{
    const qint64 pid = g_app->processId();
    for (auto _ : state) {
        const qint64 before = cpuNanoseconds(pid);
        QElapsedTimer t;
        t.start();
        QThread::sleep(20);
        const qint64 used = cpuNanoseconds(pid) - before;
        state.counters["idle_cpu_percent"] = 100.0 * double(used) / double(t.nsecsElapsed());
        state.counters["rss_MiB"] = rollupMiB(pid, "Rss");
        state.counters["pss_MiB"] = rollupMiB(pid, "Pss");
    }
}
BENCHMARK(BM_IdleMemoryAndCpu)->Iterations(1)->Unit(benchmark::kSecond);

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

void BM_CopyToCommittedRow(benchmark::State& state)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
    db.setDatabaseName(libraryPath(QStringLiteral("clipDB.sqlite")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        state.SkipWithError("the history cannot be read");
        return;
    }
    QRandomGenerator random(2718);
    std::vector<double> fromStart;
    std::vector<double> fromOwned;
    int n = 0;
    for (auto _ : state) {
        // Irregular pauses between copies, not a multiple of any poll interval.
        QThread::usleep(150000 + random.bounded(700000));
        const QByteArray text = QByteArray("copied for the latency run, number ") + QByteArray::number(++n) + " "
            + QByteArray::number(random.generate());
        const QString hash = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
        QElapsedTimer timer;
        timer.start();
        const pid_t xclip = startXclip(text);
        if (xclip < 0) {
            state.SkipWithError("xclip did not start");
            break;
        }
        qint64 owned = -1;
        bool found = false;
        while (timer.elapsed() < 5000) {
            if (owned < 0) {
                int status = 0;
                if (waitpid(xclip, &status, WNOHANG) == xclip)
                    owned = timer.nsecsElapsed();
            }
            QSqlQuery query(db);
            query.prepare(QStringLiteral("select count(*) from History where file_hash = ?"));
            query.addBindValue(hash);
            if (query.exec() && query.next() && query.value(0).toInt() > 0) {
                found = true;
                break;
            }
            QThread::usleep(200);
        }
        const qint64 done = timer.nsecsElapsed();
        if (owned < 0) {
            int status = 0;
            waitpid(xclip, &status, 0);
            owned = timer.nsecsElapsed();
        }
        if (!found) {
            state.SkipWithError("the copy was not stored within 5 s");
            break;
        }
        fromStart.push_back(double(done) / 1e6);
        fromOwned.push_back(double(std::max<qint64>(0, done - owned)) / 1e6);
        state.SetIterationTime(double(done) / 1e9);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    if (fromStart.empty())
        return;
    state.counters["median_ms"] = percentile(fromStart, 0.5);
    state.counters["p90_ms"] = percentile(fromStart, 0.9);
    state.counters["owned_median_ms"] = percentile(fromOwned, 0.5);
    state.counters["owned_p90_ms"] = percentile(fromOwned, 0.9);
}
BENCHMARK(BM_CopyToCommittedRow)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_MemoryAfterCopies(benchmark::State& state)
{
    const qint64 pid = g_app->processId();
    for (auto _ : state) {
        QThread::sleep(2);
        state.counters["rss_MiB"] = rollupMiB(pid, "Rss");
        state.counters["pss_MiB"] = rollupMiB(pid, "Pss");
    }
}
BENCHMARK(BM_MemoryAfterCopies)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!startPrivateXServer()) {
        fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    QTemporaryDir home;
    g_home = home.path();
    QCoreApplication app(argc, argv);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), g_home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), g_home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(env);
    program.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
    program.start();
    if (!program.waitForStarted()
        || !waitFor([] { return readFile(libraryPath(QStringLiteral("nuvarel.log"))).contains("launch finished"); },
                    30000)) {
        fprintf(stderr, "the program did not start\n");
        return 1;
    }
    // What start-up does once (the first poll, the menu) is over.
    QThread::sleep(3);
    g_app = &program;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    program.terminate();
    program.waitForFinished(20000);
    return 0;
}
