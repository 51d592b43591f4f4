// Clip bodies through the object store of the web service double on loopback: a 5 MiB image
// clip uploaded (encrypt, token, form post) and downloaded (get, decrypt, unzip, digest),
// beside the bare download of the same bytes and the raw libsodium secretstream and libzip
// work on the same body, so the app's own cost is what the transfer adds to them.

#include "platform/keychain.h"
#include "platform/fake/keychainfake.h"
#include "platform/userdefaults.h"
#include "platform/numberreader.h"
#include "service/httpsession.h"
#include "service/sodiumglue.h"
#include "service/zeromanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/defaultskeys.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "support/webservice/webservicedouble.h"
#include "sync/downloadfilemanager.h"
#include "sync/pushclipsmanager.h"
#include "sync/uploadfilemanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <sodium.h>
#include <zip.h>

namespace {

constexpr qsizetype kBodySize = 5 * 1024 * 1024;
webdouble::WebServiceDouble* g_server = nullptr;
HistoryModelPtr g_clip;

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

// An image body that compresses like a photo does: hardly at all.
QByteArray imageBody()
{
    QRandomGenerator generator(42);
    QByteArray out(kBodySize, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32*>(out.data()), out.size() / 4);
    return out;
}

bool makeClip()
{
    const QByteArray data = imageBody();
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(md5HexOfData(data));
    clip->setType(QStringLiteral("image_data+zip+enc"));
    clip->setContent(QStringLiteral("image"));
    clip->setTimestamp(QVariant(qint64(1700000000)));
    clip->setCategory(QString(ClipCategory::History));
    ClipFileManager::sharedInstance().saveClipData(data, *clip);
    clip->setKey_hash(ZeroManager::sharedInstance().currentKeyHash());
    clip->save();
    bool done = false;
    PushClipsManager::sharedInstance().Post(clip, [&](const QVariant&, const std::optional<RequestError>&) { done = true; });
    if (!runUntil([&] { return done; }))
        return false;
    clip->fetch();
    g_clip = clip;
    return NumberReader::wholeNumber(clip->file_id()).value_or(0) > 0;
}

void BM_UploadImage5MiB(benchmark::State& state)
{
    for (auto _ : state) {
        bool ok = false;
        bool done = false;
        UploadFileManager::sharedInstance().upload(g_clip, [&](const QVariant&, const std::optional<RequestError>& error) {
            ok = !error;
            done = true;
        });
        if (!runUntil([&] { return done; }) || !ok)
            state.SkipWithError("the upload failed");
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_UploadImage5MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void forgetBody()
{
    const QString hash = *g_clip->file_hash();
    QFile::remove(PathHelper::getBaseFilePath(hash));
    g_clip->setLocal_file_ok(QVariant(0));
}

void BM_DownloadImage5MiB(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        forgetBody();
        state.ResumeTiming();
        bool ok = false;
        bool done = false;
        DownloadFileManager::sharedInstance().downloadHistory(g_clip, [&](const QVariant&, const std::optional<RequestError>& error) {
            ok = !error;
            done = true;
        });
        if (!runUntil([&] { return done; }) || !ok)
            state.SkipWithError("the download failed");
    }
    state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_DownloadImage5MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The network part alone: the same stored body fetched to a file.
void BM_BareDownload5MiB(benchmark::State& state)
{
    HttpSession session(QStringLiteral("bench download"));
    const QString url = DownloadFileManager::sharedInstance().combinURL() + QStringLiteral("&file_hash=")
                        + *g_clip->file_hash() + QStringLiteral("&file_id=")
                        + QString::number(NumberReader::wholeNumber(g_clip->file_id()).value_or(0));
    const QString target = PathHelper::getTmpDir(QStringLiteral("bare"));
    for (auto _ : state) {
        bool done = false;
        int status = 0;
        session.download(QUrl(url), target, {}, [&](const HttpSession::Reply& reply) {
            status = reply.status;
            done = true;
        });
        if (!runUntil([&] { return done; }) || status != 200)
            state.SkipWithError("the bare download failed");
    }
    QFile::remove(target);
    state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_BareDownload5MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Raw library work on the same body: secretstream encrypt + decrypt of the zip, and one
// libzip read of its entry.
void BM_RawSecretstreamAndZip5MiB(benchmark::State& state)
{
    const QString hash = *g_clip->file_hash();
    const QString zipPath = PathHelper::getZipsFilePath(hash);
    const QString sealed = PathHelper::getTmpDir(QStringLiteral("raw-sealed"));
    const QString opened = PathHelper::getTmpDir(QStringLiteral("raw-opened"));
    unsigned char key[CE_KEY_BYTES];
    randombytes_buf(key, sizeof key);
    QByteArray buffer(kBodySize + 65536, Qt::Uninitialized);
    for (auto _ : state) {
        if (ce_encrypt_file(QFile::encodeName(sealed).constData(), QFile::encodeName(zipPath).constData(), key) != 0
            || ce_decrypt_file(QFile::encodeName(opened).constData(), QFile::encodeName(sealed).constData(), key) != 0)
            state.SkipWithError("secretstream failed");
        int error = 0;
        zip_t* archive = zip_open(QFile::encodeName(opened).constData(), ZIP_RDONLY, &error);
        zip_file_t* entry = archive ? zip_fopen_index(archive, 0, 0) : nullptr;
        if (!entry || zip_fread(entry, buffer.data(), zip_uint64_t(buffer.size())) != kBodySize)
            state.SkipWithError("libzip failed");
        if (entry)
            zip_fclose(entry);
        if (archive)
            zip_discard(archive);
    }
    QFile::remove(sealed);
    QFile::remove(opened);
    state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_RawSecretstreamAndZip5MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    webdouble::WebServiceDouble server;
    if (!server.start())
        qFatal("the web service double did not start");
    g_server = &server;
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
    const qint64 userId = server.addAccount(QStringLiteral("bench@example.com"), QStringLiteral("pw"));
    ConfigureManager::sharedInstance().setLoginUserId(QString::number(userId));
    ConfigureManager::sharedInstance().setLoginUserToken(server.issueToken(QStringLiteral("bench@example.com")));
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    ZeroManager& zm = ZeroManager::sharedInstance();
    const auto dict = zm.generateKey(QStringLiteral("2468"));
    if (!dict || !zm.makeKeyAvailable(*dict))
        qFatal("no key");
    if (!makeClip())
        qFatal("the clip did not reach the double");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_clip.reset();
    server.stop();
    DBFetcher::resetSharedInstance();
    return 0;
}
