// Clip sync on this machine: the merge of a pull of 500 new encrypted clips (decrypting,
// storing rows and bodies, then the clean-up to 60 rows), which must stay under a second.

#include "platform/keychain.h"
#include "platform/keychainfake.h"
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

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

void setUpAccount()
{
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    ConfigureManager::sharedInstance().setLoginUserId(QStringLiteral("42"));
    ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token-42"));
    ZeroManager& zm = ZeroManager::sharedInstance();
    const auto dict = zm.generateKey(QStringLiteral("2468"));
    if (!dict || !zm.makeKeyAvailable(*dict))
        qFatal("no key");
}

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

// Each pull lands in a fresh home, as a first pull on a new device does: the file system has
// not just deleted the previous round's 500 bodies (ext4 skips recently freed inodes slowly).
void BM_PullMerge500(benchmark::State& state)
{
    const QByteArray reply = pullReply(500);
    std::vector<std::unique_ptr<QTemporaryDir>> homes;
    for (auto _ : state) {
        state.PauseTiming();
        homes.push_back(std::make_unique<QTemporaryDir>());
        DBFetcher::resetSharedInstance();
        qputenv("HOME", homes.back()->path().toUtf8());
        PullClipManager pull;
        state.ResumeTiming();
        benchmark::DoNotOptimize(pull.parse(reply));
    }
    DBFetcher::resetSharedInstance();
    homes.clear();
}
BENCHMARK(BM_PullMerge500)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    setUpAccount();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DBFetcher::resetSharedInstance();
    return 0;
}
