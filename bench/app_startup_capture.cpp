// The real program on a private Xvfb, started with a text already on the clipboard, with an
// empty history and with a year of history (100 000 rows), and once with a large picture on
// the clipboard in place of the text. For each start, from starting the process:
// - first_row: that text's row committed in the history file (with the picture: the picture's
//   row, which is that picture's capture time, not a figure of start-up);
// - first_menu: the clip menu built from the history (its log line);
// - lost: of 20 copies another program makes from the moment the status item can show (launch
//   finished: the event loop runs and draws it), each 50 ms after the one before took the
//   clipboard, how many never reach the history; counted once a last copy after them is stored
//   (captures run in order).
// Goal: first_row and first_menu at 100 000 rows within 1.2 times the empty figures, no copy
// lost, and a large picture at start not holding up the menu.
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
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Template history files by row count, made once in the bench's own home.
std::map<int, QString> g_templates;

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

// With anyImage, whether any image row is stored (a picture's hash is its TIFF's).
bool rowExists(const QString& dbPath, const QString& hash, bool anyImage)
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
            if (anyImage) {
                query.prepare(QStringLiteral("select count(*) from History where type like 'image%'"));
            } else {
                query.prepare(QStringLiteral("select count(*) from History where file_hash = ?"));
                query.addBindValue(hash);
            }
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

constexpr int kCopies = 20;
constexpr qint64 kCopySpacingMs = 50;

QByteArray readLog(const QString& home)
{
    QFile file(libraryOf(home) + QStringLiteral("/nuvarel.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString hashOfText(const QByteArray& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
}

// A picture whose capture takes seconds, as a screenshot of a large screen would, saved once.
QString largePicture()
{
    static QString path;
    if (!path.isEmpty())
        return path;
    QImage picture(10000, 10000, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            line[x] = qRgb(x % 256, y % 256, (x / 16 + y / 16) % 256);
    }
    path = QDir::homePath() + QStringLiteral("/large.png");
    picture.save(path);
    return path;
}

bool offerPicture(const QString& path)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                                          QStringLiteral("image/png"), QStringLiteral("-i"), path});
    return xclip.waitForFinished(60000) && xclip.exitCode() == 0;
}

struct Figures {
    std::vector<double> firstRow, firstMenu;
    std::vector<int> lost;
};
std::map<int, Figures> g_figures;

// Args: rows, and 1 for a large picture on the clipboard at start in place of the text.
void BM_StartUp(benchmark::State& state)
{
    const int rows = int(state.range(0));
    const bool picture = state.range(1) != 0;
    const QString history = templateWith(rows);
    Figures figures;
    int n = 0;
    for (auto _ : state) {
        QTemporaryDir home;
        QDir().mkpath(libraryOf(home.path()));
        const QString dbPath = libraryOf(home.path()) + QStringLiteral("/clipDB.sqlite");
        if (!history.isEmpty() && !QFile::copy(history, dbPath)) {
            state.SkipWithError("the history could not be copied");
            break;
        }
        const QByteArray run = QByteArray::number(rows) + " " + QByteArray::number(picture) + " number "
            + QByteArray::number(++n) + " at " + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
        const QByteArray text = "copied just before login, run " + run;
        const QString hash = hashOfText(text);
        if (picture ? !offerPicture(largePicture()) : !offerWithXclip(text)) {
            state.SkipWithError("xclip did not take the clipboard");
            break;
        }
        std::vector<QString> copies;
        for (int c = 0; c < kCopies; ++c)
            copies.push_back(hashOfText("copy " + QByteArray::number(c) + " of run " + run));

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
        qint64 trayAt = -1, rowAt = -1, menuAt = -1;
        int copied = 0;
        // The next copy starts 50 ms after the one before owns the clipboard (its xclip's
        // foreground has exited), so the spacing is the clipboard's, not process start-up's.
        pid_t owning = -1;
        qint64 ownedAt = 0;
        // The picture's own capture (decode, TIFF, digest, zip of 400 MB) takes tens of
        // seconds on a busy machine: its row is waited for longer than a text's.
        const qint64 deadline = picture ? 300000 : 60000;
        while (timer.elapsed() < deadline && program.state() != QProcess::NotRunning) {
            const QByteArray log = readLog(home.path());
            // The status item is made during launch and drawn once the event loop runs.
            if (trayAt < 0 && log.contains("launch finished"))
                trayAt = timer.elapsed();
            int status = 0;
            if (owning >= 0 && waitpid(owning, &status, WNOHANG) == owning) {
                owning = -1;
                ownedAt = timer.elapsed();
            }
            if (trayAt >= 0 && copied < kCopies && owning < 0
                && (copied == 0 || timer.elapsed() >= ownedAt + kCopySpacingMs)) {
                owning = startXclip("copy " + QByteArray::number(copied) + " of run " + run);
                ++copied;
            }
            if (menuAt < 0 && log.contains("clip menu ready"))
                menuAt = timer.nsecsElapsed();
            if (rowAt < 0 && rowExists(dbPath, picture ? QString() : hash, picture))
                rowAt = timer.nsecsElapsed();
            if (rowAt >= 0 && menuAt >= 0 && copied == kCopies && owning < 0)
                break;
            QThread::usleep(500);
        }
        if (owning >= 0) {
            int status = 0;
            waitpid(owning, &status, 0);
            ownedAt = timer.elapsed();
        }
        // A last copy after the others, spaced as they are: captures run in order, so once its
        // row is there every copy before it that was seen has been stored.
        while (timer.elapsed() < ownedAt + kCopySpacingMs)
            QThread::usleep(500);
        const QByteArray last = "the last copy of run " + run;
        const pid_t lastPid = startXclip(last);
        if (lastPid >= 0) {
            int status = 0;
            waitpid(lastPid, &status, 0);
        }
        while (program.state() != QProcess::NotRunning && timer.elapsed() < deadline + 60000
               && !rowExists(dbPath, hashOfText(last), false))
            QThread::msleep(20);
        int stored = 0;
        for (const QString& copy : copies)
            stored += rowExists(dbPath, copy, false) ? 1 : 0;
        const int lost = kCopies - stored;
        program.terminate();
        if (!program.waitForFinished(60000))
            program.kill();
        if (rowAt < 0 || menuAt < 0) {
            fprintf(stderr, "tray %lld row %lld menu %lld\n%s\n", (long long)trayAt, (long long)rowAt, (long long)menuAt,
                    readLog(home.path()).constData());
            state.SkipWithError("no first row or no first menu in time");
            break;
        }
        figures.firstRow.push_back(double(rowAt) / 1e6);
        figures.firstMenu.push_back(double(menuAt) / 1e6);
        figures.lost.push_back(lost);
        state.SetIterationTime(double(rowAt) / 1e9);
    }
    if (figures.firstRow.empty())
        return;
    const int key = rows * 2 + (picture ? 1 : 0);
    g_figures[key] = figures;
    state.counters["first_row_ms"] = median(figures.firstRow);
    state.counters["first_menu_ms"] = median(figures.firstMenu);
    state.counters["first_menu_max_ms"] = *std::max_element(figures.firstMenu.begin(), figures.firstMenu.end());
    state.counters["lost_copies_total"] = std::accumulate(figures.lost.begin(), figures.lost.end(), 0);
    state.counters["lost_copies_max"] = *std::max_element(figures.lost.begin(), figures.lost.end());
    // The picture's first row is its own capture time: only its menu compares.
    if (key != 0 && g_figures.count(0)) {
        if (!picture)
            state.counters["row_vs_empty"] = median(figures.firstRow) / median(g_figures[0].firstRow);
        state.counters["menu_vs_empty"] = median(figures.firstMenu) / median(g_figures[0].firstMenu);
    }
}
BENCHMARK(BM_StartUp)->Args({0, 0})->Args({100000, 0})->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
// Each start waits for the picture's capture before the last copy is in.
BENCHMARK(BM_StartUp)->Args({100000, 1})->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

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
