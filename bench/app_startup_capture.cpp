// The real program on a private Xvfb, started with a text already on the clipboard: the time
// from starting the process to that text's row committed in the history file, with an empty
// history and with a year of history (100 000 rows). Goal: the full history within 1.5 times
// the empty one, so a copy made right after login is never held up by the start-up care of a
// large history file.

#include "platform/userdefaults.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "support/xserver/privatexserver.h"
#include "xclipspawn.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Template history files by row count, made once in the bench's own home.
std::map<int, QString> g_templates;
std::map<int, double> g_medians;

QString libraryOf(const QString& home)
{
    return home + QStringLiteral("/Library/Nuvarel");
}

// A history of exactly this many rows, written through the program's own database code so
// it has the layout and journal mode a real start leaves behind.
QString templateWith(int rows)
{
    if (const auto it = g_templates.find(rows); it != g_templates.end())
        return it->second;
    QString path;
    if (rows > 0) {
        HistoryModel::inDatabase([&](QSqlDatabase& db) {
            DBFetcher::executeUpdate(db, QStringLiteral("delete from History"));
            DBFetcher::executeUpdate(db, QStringLiteral("BEGIN"));
            for (int i = 0; i < rows; ++i) {
                DBFetcher::executeUpdate(
                    db,
                    QStringLiteral("insert into History (content, timeStamp, deviceName, file_hash, type, "
                                   "category, file_size, local_file_ok) values (?, ?, 'bench', ?, "
                                   "'text_txt+enc', ?, 64, 1)"),
                    {QStringLiteral("a clip of the past year, number %1, copied from somewhere").arg(i),
                     QVariant(qint64(1600000000) + i), QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')),
                     i < 30 ? QStringLiteral("favourite") : QStringLiteral("history")});
            }
            DBFetcher::executeUpdate(db, QStringLiteral("COMMIT"));
        });
        // Closing checkpoints the log into the file, so the file alone is the history.
        DBFetcher::resetSharedInstance();
        path = QDir::homePath() + QStringLiteral("/history-%1.sqlite").arg(rows);
        QFile::remove(path);
        QFile::copy(libraryOf(QDir::homePath()) + QStringLiteral("/clipDB.sqlite"), path);
    }
    g_templates[rows] = path;
    return path;
}

// xclip owning the clipboard with this text; false when it did not start or take it.
bool offerWithXclip(const QByteArray& text)
{
    const pid_t pid = startXclip(text);
    int status = 0;
    return pid >= 0 && waitpid(pid, &status, 0) == pid;
}

bool rowExists(const QString& dbPath, const QString& hash)
{
    if (!QFile::exists(dbPath))
        return false;
    bool found = false;
    {
        // A fresh connection each time: it holds no lock between looks, so the program's own
        // work on the file never waits for this reader.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("select count(*) from History where file_hash = ?"));
            query.addBindValue(hash);
            found = query.exec() && query.next() && query.value(0).toInt() > 0;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return found;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_FirstCaptureAfterLaunch(benchmark::State& state)
{
    const int rows = int(state.range(0));
    const QString history = templateWith(rows);
    std::vector<double> times;
    int n = 0;
    for (auto _ : state) {
        QTemporaryDir home;
        QDir().mkpath(libraryOf(home.path()));
        const QString dbPath = libraryOf(home.path()) + QStringLiteral("/clipDB.sqlite");
        if (!history.isEmpty() && !QFile::copy(history, dbPath)) {
            state.SkipWithError("the history could not be copied");
            break;
        }
        const QByteArray text = QByteArray("copied just before login, run ") + QByteArray::number(rows) + " number "
            + QByteArray::number(++n) + " at " + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
        const QString hash = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
        if (!offerWithXclip(text)) {
            state.SkipWithError("xclip did not take the clipboard");
            break;
        }

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(env);
        program.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
        QElapsedTimer timer;
        timer.start();
        program.start();
        bool found = false;
        while (timer.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
            if (rowExists(dbPath, hash)) {
                found = true;
                break;
            }
            QThread::usleep(500);
        }
        const qint64 elapsed = timer.nsecsElapsed();
        program.terminate();
        if (!program.waitForFinished(20000))
            program.kill();
        if (!found) {
            state.SkipWithError("the clipboard's text was not stored within 20 s");
            break;
        }
        times.push_back(double(elapsed) / 1e6);
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    if (times.empty())
        return;
    const double mid = median(times);
    g_medians[rows] = mid;
    state.counters["median_ms"] = mid;
    state.counters["max_ms"] = *std::max_element(times.begin(), times.end());
    if (rows > 0 && g_medians.count(0))
        state.counters["vs_empty"] = mid / g_medians[0];
}
BENCHMARK(BM_FirstCaptureAfterLaunch)->Arg(0)->Arg(100000)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!startPrivateXServer()) {
        fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
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
