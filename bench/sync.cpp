// Clip sync on this machine: the merge of a pull of 500 new encrypted clips (decrypting,
// storing rows and bodies, then the clean-up to 60 rows), which must stay under a second;
// and the history worker pushing 100 pending clips to the web service double on loopback,
// beside the same 100 posts sent bare, so the worker's own cost per clip (selection,
// encryption, the reply's updates, clearing the mark, the hops between queues) is the
// difference, which must stay under 5 ms.

#include "platform/keychain.h"
#include "platform/fake/keychainfake.h"
#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/clipfilemanager.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "sync/pullclipmanager.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <QElapsedTimer>
#include <QUrl>

#include <benchmark/benchmark.h>

#ifdef NUVAREL_BENCH_WITH_DOUBLE
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/requestmanager.h"
#include "store/defaultskeys.h"
#include "support/webservice/webservicedouble.h"
#include "sync/historyservice.h"
#include "sync/pushclipsmanager.h"

#include <atomic>
#endif

#include <memory>
#include <vector>

namespace {

void setUpAccount()
{
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    if (!ConfigureManager::sharedInstance().isLogined()) {
        ConfigureManager::sharedInstance().setLoginUserId(QStringLiteral("42"));
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token-42"));
    }
    ZeroManager& zm = ZeroManager::sharedInstance();
    const auto dict = zm.generateKey(QStringLiteral("2468"));
    if (!dict || !zm.makeKeyAvailable(*dict))
        qFatal("no key");
}

#ifdef NUVAREL_BENCH_WITH_DOUBLE

QByteArray pullReply(int count)
{
    ZeroManager& zm = ZeroManager::sharedInstance();
    const QString keyHash = *zm.currentKeyHash();
    QJsonArray histories;
    for (int i = 0; i < count; ++i) {
        const QString text = QStringLiteral("pulled clip %1 from another device").arg(i);
        histories.append(QJsonObject{{QStringLiteral("file_hash"), md5HexOfString(text)},
                                     {QStringLiteral("history_id"), 1000 + i},
                                     {QStringLiteral("file_id"), 5000 + i},
                                     {QStringLiteral("file_ready"), 1},
                                     {QStringLiteral("device_name"), QStringLiteral("laptop")},
                                     {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                                     {QStringLiteral("key_hash"), keyHash},
                                     {QStringLiteral("timestamp"), 1700000000 + i},
                                     {QStringLiteral("favourite"), 0},
                                     {QStringLiteral("content"), zm.encryptDataToBase64String(text)->base64}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("code"), 0},
                                     {QStringLiteral("request_timestamp"), 1700000999},
                                     {QStringLiteral("histories"), histories}})
        .toJson(QJsonDocument::Compact);
}



constexpr int kPending = 100;
webdouble::WebServiceDouble* g_server = nullptr;

bool runUntil(const std::function<bool()>& done);

// Each pull lands in a fresh home, as a first pull on a new device does: the file system has
// not just deleted the previous round's 500 bodies (ext4 skips recently freed inodes slowly).
void BM_PullMerge500(benchmark::State& state)
{
    g_server->setFault("/pull/", webdouble::Fault::rawBody(pullReply(500).toStdString()));
    const QByteArray originalHome = qgetenv("HOME");
    std::vector<std::unique_ptr<QTemporaryDir>> homes;
    for (auto _ : state) {
        state.PauseTiming();
        homes.push_back(std::make_unique<QTemporaryDir>());
        DBFetcher::resetSharedInstance();
        qputenv("HOME", homes.back()->path().toUtf8());
        auto pull = std::make_shared<PullClipManager>();
        bool done = false;
        state.ResumeTiming();
        pull->request([&](const QVariant& result, int, const std::optional<RequestError>&) {
            done = result.isValid();
        });
        if (!runUntil([&] { return done; }))
            state.SkipWithError("the pull did not merge");
    }
    DBFetcher::resetSharedInstance();
    qputenv("HOME", originalHome);
    homes.clear();
    g_server->clearFaults();
}
BENCHMARK(BM_PullMerge500)->Unit(benchmark::kMillisecond)->Iterations(10);


bool runUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

QString pendingText(int round, int i)
{
    return QStringLiteral("pending clip %1 of round %2").arg(i).arg(round);
}

qint64 pendingRows()
{
    qint64 n = 0;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        n = DBFetcher::longForQuery(db, QStringLiteral("select count(*) from History where change_timestamp > 0"))
                .value_or(0);
    });
    return n;
}

void addPending(int round)
{
    for (int i = 0; i < kPending; ++i) {
        const QString text = pendingText(round, i);
        auto clip = std::make_shared<HistoryModel>();
        clip->setContent(text);
        clip->setFile_hash(md5HexOfString(text));
        clip->setTimestamp(QVariant(qint64(1700000000 + i)));
        clip->setType(QStringLiteral("text_txt+enc"));
        ClipFileManager::sharedInstance().saveString(text, *clip->file_hash());
        clip->save();
        clip->increase_change_count();
    }
}

void BM_WorkerPushes100(benchmark::State& state)
{
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::removeAllData());
        addPending(++round);
        state.ResumeTiming();
        HistoryService::sharedInstance().process();
        if (!runUntil([] { return !HistoryService::sharedInstance().isRunning() && pendingRows() == 0; }))
            state.SkipWithError("the worker did not finish");
    }
    state.counters["per_clip_ms"] = benchmark::Counter(double(kPending) * state.iterations() / 1000.0,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WorkerPushes100)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The same posts, encrypted in advance, sent one after another on a session of their own:
// what the server and HTTP cost without the worker.
void BM_Bare100Posts(benchmark::State& state)
{
    HttpSession session(QStringLiteral("bench posts"));
    PushClipsManager& push = PushClipsManager::sharedInstance();
    const QUrl url(RequestManager::percentUnescape(push.combinURL()));
    std::vector<QByteArray> bodies;
    for (int i = 0; i < kPending; ++i) {
        const QString text = pendingText(1000, i);
        QJsonObject history{{QStringLiteral("file_hash"), md5HexOfString(text)},
                            {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                            {QStringLiteral("timestamp"), 1700000000 + i},
                            {QStringLiteral("key_hash"), *ZeroManager::sharedInstance().currentKeyHash()},
                            {QStringLiteral("content"),
                             ZeroManager::sharedInstance().encryptDataToBase64String(text)->base64}};
        bodies.push_back(QJsonDocument(QJsonObject{{QStringLiteral("history"), history}}).toJson(QJsonDocument::Compact));
    }
    for (auto _ : state) {
        std::atomic<int> done{0};
        std::function<void(int)> next = [&](int i) {
            session.jsonTask(QStringLiteral("POST"), url, bodies[size_t(i)], [&, i](const HttpSession::Reply&) {
                if (i + 1 < kPending)
                    next(i + 1);
                done = i + 1;
            });
        };
        next(0);
        if (!runUntil([&] { return done.load() == kPending; }))
            state.SkipWithError("the posts did not finish");
    }
    state.counters["per_clip_ms"] = benchmark::Counter(double(kPending) * state.iterations() / 1000.0,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Bare100Posts)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

#endif

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
#ifdef NUVAREL_BENCH_WITH_DOUBLE
    webdouble::WebServiceDouble server;
    if (!server.start())
        qFatal("the web service double did not start");
    g_server = &server;
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
    const qint64 userId = server.addAccount(QStringLiteral("bench@example.com"), QStringLiteral("pw"));
    ConfigureManager::sharedInstance().setLoginUserId(QString::number(userId));
    ConfigureManager::sharedInstance().setLoginUserToken(server.issueToken(QStringLiteral("bench@example.com")));
#endif
    setUpAccount();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef NUVAREL_BENCH_WITH_DOUBLE
    server.stop();
#endif
    DBFetcher::resetSharedInstance();
    return 0;
}
