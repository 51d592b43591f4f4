#include "syncfixture.h"

#include "platform/notificationcenter.h"
#include "service/httpsession.h"
#include "service/sodiumglue.h"
#include "store/clipbodylimit.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "sync/downloadfilemanager.h"
#include "sync/fileservice.h"
#include "sync/progressmanager.h"
#include "sync/transfererror.h"
#include "sync/uploadfilemanager.h"

#include <QDir>
#include <QRandomGenerator>

#include <functional>

#include <gtest/gtest.h>

#include <zip.h>

using namespace synctest;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(generator.bounded(256));
    return out;
}

// A zip of the given (name, data) entries, deflated, in order.
QByteArray zipOf(const std::vector<std::pair<QString, QByteArray>>& entries)
{
    const QString path = testenv::home() + QStringLiteral("/made.zip");
    QFile::remove(path);
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(archive, nullptr);
    std::vector<QByteArray> keep;  // libzip reads the buffers at close
    for (const auto& [name, data] : entries) {
        keep.push_back(data);
        zip_source_t* source = zip_source_buffer(archive, keep.back().constData(), zip_uint64_t(keep.back().size()), 0);
        EXPECT_GE(zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8), 0);
    }
    EXPECT_EQ(zip_close(archive), 0);
    return readAll(path);
}

struct Answer {
    bool called = false;
    bool onMain = false;
    QVariant result;
    std::optional<RequestError> error;
};

class RecordingProgress : public ProgressProtocol {
public:
    void setProgress(float fraction, bool) override { fractions.push_back(fraction); }
    std::vector<float> fractions;
};

class FileTransfer : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        FileService::sharedInstance().resetForTesting();
        DownloadFileManager::sharedInstance().resetForTesting();
    }
    void TearDown() override
    {
        EXPECT_TRUE(testenv::waitUntil([] { return !FileService::sharedInstance().isRunning(); }));
        FileService::sharedInstance().resetForTesting();
        DownloadFileManager::sharedInstance().resetForTesting();
        SyncTest::TearDown();
    }

    // A history clip with its body stored as capture would, tagged with the current key.
    HistoryModelPtr makeClip(const QByteArray& data, const QString& type, qint64 timestamp)
    {
        auto clip = std::make_shared<HistoryModel>();
        const QString hash = md5HexOfData(data);
        clip->setFile_hash(hash);
        clip->setType(type);
        clip->setTimestamp(QVariant(timestamp));
        clip->setCategory(QString(ClipCategory::History));
        clip->setFile_name(QStringLiteral("body.bin"));
        clip->setContent(type.startsWith(QLatin1String("text")) ? QString::fromUtf8(data) : QStringLiteral("body.bin"));
        ClipFileManager::sharedInstance().saveClipData(data, *clip);
        clip->setKey_hash(keyHash());
        clip->save();
        return clip;
    }
    // Posts the clip's row to the double, so the server knows it; the row as stored after.
    HistoryModelPtr pushRow(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<PushResult>();
        PushClipsManager::sharedInstance().Post(clip, record(out));
        const PushResult result = wait(out);
        EXPECT_FALSE(result.error.has_value());
        auto row = rowOf(*clip->file_hash());
        EXPECT_TRUE(row);
        if (!row)
            return clip;
        if (!row->key_hash() || row->key_hash()->isEmpty()) {
            row->setKey_hash(keyHash());
            row->save();
        }
        EXPECT_GT(row->history_id().toLongLong(), 0);
        EXPECT_GT(row->file_id().toLongLong(), 0);
        return row;
    }
    Answer upload(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<Answer>();
        UploadFileManager::sharedInstance().upload(clip, [out](const QVariant& result, const std::optional<RequestError>& error) {
            out->called = true;
            out->onMain = dispatch::isMainThread();
            out->result = result;
            out->error = error;
        });
        EXPECT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(30)));
        return *out;
    }
    Answer download(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<Answer>();
        DownloadFileManager::sharedInstance().downloadHistory(
            clip, [out](const QVariant& result, const std::optional<RequestError>& error) {
                out->called = true;
                out->onMain = dispatch::isMainThread();
                out->result = result;
                out->error = error;
            });
        EXPECT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(30)));
        return *out;
    }
    // This machine as a second device would be: the row known, the body only on the server.
    void forgetBodyLocally(const QString& hash)
    {
        for (const QString& dir : {QStringLiteral("files"), QStringLiteral("zips"), QStringLiteral("previews"),
                                   QStringLiteral("encrypts"), QStringLiteral("tmp")}) {
            QDir folder(libraryDir() + u'/' + dir);
            if (dir == QLatin1String("encrypts") || dir == QLatin1String("previews"))
                folder.removeRecursively();
            else
                QFile::remove(folder.filePath(hash));
        }
        RawDb raw(dbPath());
        ASSERT_TRUE(raw.exec(QStringLiteral("update History set local_file_ok = 0, file_ready = 1 where file_hash = ?"),
                             {hash}));
    }
    // Stores a body for the clip in the double's object store, as if another device had sent it.
    void serveBody(const HistoryModel& clip, const QByteArray& body)
    {
        auto lock = server.lock();
        server.fileRoutes().state().bodies[QString::number(userId) + u'/' + *clip.file_hash()] = body;
    }
    QByteArray storedBody(const QString& hash)
    {
        auto lock = server.lock();
        const auto& bodies = server.fileRoutes().state().bodies;
        const auto it = bodies.find(QString::number(userId) + u'/' + hash);
        return it == bodies.end() ? QByteArray() : it->second;
    }
    qint64 storedFlag(const QString& hash, const char* column)
    {
        RawDb raw(dbPath());
        return raw.scalar(QStringLiteral("select %1 from History where file_hash = ? and category = 'history'")
                              .arg(QLatin1String(column)),
                          {hash})
            .toLongLong();
    }
    // The sound stored form of a body of that type under our key: zipped, then encrypted.
    QByteArray storedBodyFor(const QByteArray& data, const QString& type)
    {
        QByteArray body = data;
        if (type.contains(QLatin1String("+zip")))
            body = zipOf({{md5HexOfData(data), body}});
        if (type.contains(QLatin1String("+enc")))
            body = encryptWith(pair, body);
        return body;
    }
    QByteArray encryptWith(const TestPair& keyPair, const QByteArray& plain)
    {
        const QString source = testenv::home() + QStringLiteral("/plain.bin");
        const QString target = testenv::home() + QStringLiteral("/sealed.bin");
        writeFile(source, plain);
        EXPECT_EQ(ce_encrypt_file(QFile::encodeName(target).constData(), QFile::encodeName(source).constData(),
                                  keyPair.data->key),
                  0);
        return readAll(target);
    }
};

// Each kind goes up in its stored form and comes back down as the exact bytes.
TEST_F(FileTransfer, EachKindRoundTripsThroughTheObjectStore)
{
    struct Case {
        QString type;
        QByteArray data;
        bool encrypted;
        bool zipped;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("text_txt+enc"), QByteArrayLiteral("a secret note to carry across"), true, false},
        {QStringLiteral("image_data+zip+enc"), randomBytes(200000, 7), true, true},
        {QStringLiteral("file_pdf+zip"), QByteArrayLiteral("%PDF-1.4\n") + randomBytes(50000, 9), false, true},
    };
    qint64 timestamp = 1700000000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type.toStdString());
        const QString hash = md5HexOfData(c.data);
        auto row = pushRow(makeClip(c.data, c.type, ++timestamp));
        const QString zip = PathHelper::getZipsFilePath(hash);
        const QByteArray zipBytes = readAll(zip);

        server.clearRequests();
        const Answer up = upload(row);
        ASSERT_FALSE(up.error.has_value()) << up.error->domain.toStdString() << ' ' << up.error->code;
        EXPECT_TRUE(up.onMain);
        EXPECT_EQ(up.result.toMap().value(QStringLiteral("code")).toInt(), 0);
        EXPECT_EQ(server.requestsTo("/oss/").size(), 1u);  // the double takes parts only in order
        EXPECT_EQ(storedFlag(hash, "file_ready"), 1);

        const QByteArray sent = storedBody(hash);
        if (c.encrypted) {
            // Only ciphertext reaches the store; the download below proves it opens again.
            EXPECT_FALSE(sent.contains(c.data.left(16)));
            EXPECT_GT(sent.size(), (c.zipped ? zipBytes : c.data).size());
            EXPECT_TRUE(QFile::exists(PathHelper::getEncFilePath(*row->encryptFileNameWithKeyHash(keyHash()))));
        } else {
            EXPECT_EQ(sent, zipBytes);
        }

        forgetBodyLocally(hash);
        row = rowOf(hash);
        const Answer down = download(row);
        ASSERT_FALSE(down.error.has_value()) << down.error->userInfo.value(QStringLiteral("error")).toString().toStdString();
        EXPECT_TRUE(down.onMain);
        EXPECT_EQ(readAll(bodyPath(hash)), c.data);
        EXPECT_EQ(storedFlag(hash, "local_file_ok"), 1);
        EXPECT_FALSE(QFile::exists(PathHelper::getTmpDir(hash)));
        EXPECT_EQ(QFile::exists(zip), c.zipped);
        if (c.encrypted) {
            EXPECT_TRUE(QFile::exists(PathHelper::getEncFilePath(*row->encryptFileName())));
        }
    }
}

// Whatever the server sends, only the clip's own bytes become its body, and nothing lands
// outside the library folder.
TEST_F(FileTransfer, HostileOrBrokenBodiesAreRefused)
{
    const QByteArray data = QByteArrayLiteral("%PDF-1.4 the real document");
    const QString hash = md5HexOfData(data);
    const QByteArray goodZip = zipOf({{hash, data}});
    struct Case {
        const char* name;
        QByteArray body;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"one entry named by the hash", goodZip, true},
        {"two entries", zipOf({{hash, data}, {QStringLiteral("other"), data}}), false},
        {"an entry climbing out", zipOf({{QStringLiteral("../x"), data}}), false},
        {"an entry of another name", zipOf({{QStringLiteral("readme"), data}}), false},
        {"another body under the hash", zipOf({{hash, QByteArrayLiteral("not the document")}}), false},
        {"a truncated zip", goodZip.left(goodZip.size() / 2), false},
        {"no zip at all", QByteArrayLiteral("plain bytes"), false},
    };
    auto row = pushRow(makeClip(data, QStringLiteral("file_pdf+zip"), 1700000100));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case stands for a fresh copy on the server, never the remembered failure.
        DownloadFileManager::sharedInstance().resetForTesting();
        forgetBodyLocally(hash);
        serveBody(*row, c.body);
        const Answer down = download(rowOf(hash));
        EXPECT_EQ(!down.error.has_value(), c.ok);
        EXPECT_EQ(QFile::exists(bodyPath(hash)), c.ok);
        if (c.ok) {
            EXPECT_EQ(readAll(bodyPath(hash)), data);
        } else {
            EXPECT_EQ(down.error->domain, QString(TransferError::kDomain));
            EXPECT_EQ(down.error->code, -1);
            EXPECT_EQ(down.error->userInfo.value(QStringLiteral("error")).toString(), QStringLiteral("file process error"));
        }
        EXPECT_FALSE(QFile::exists(PathHelper::getTmpDir(hash)));
        EXPECT_FALSE(QFile::exists(libraryDir() + QStringLiteral("/x")));
        EXPECT_FALSE(QFile::exists(libraryDir() + QStringLiteral("/zips/../x")));
    }
}

TEST_F(FileTransfer, BodiesOfAnotherKeyAreNeverOpened)
{
    const QByteArray data = QByteArrayLiteral("note sealed elsewhere");
    const QString hash = md5HexOfData(data);
    auto row = pushRow(makeClip(data, QStringLiteral("text_txt+enc"), 1700000200));
    const TestPair other = makePair(QStringLiteral("1357"));

    // Tagged with our key but sealed under another: the decryption fails, the sealed form stays.
    forgetBodyLocally(hash);
    serveBody(*row, encryptWith(other, data));
    Answer down = download(rowOf(hash));
    ASSERT_TRUE(down.error.has_value());
    EXPECT_EQ(down.error->userInfo.value(QStringLiteral("error")).toString(), QStringLiteral("file process error"));
    EXPECT_FALSE(QFile::exists(bodyPath(hash)));
    EXPECT_FALSE(QFile::exists(PathHelper::getTmpDir(hash)));
    EXPECT_FALSE(QFile::exists(PathHelper::getEncFilePath(*row->encryptFileName())));

    // Tagged with another key: detached, nothing asked of the server.
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set key_hash = ? where file_hash = ?"), {other.keyHash(), hash}));
    server.clearRequests();
    down = download(rowOf(hash));
    ASSERT_TRUE(down.error.has_value());
    EXPECT_EQ(down.error->userInfo.value(QStringLiteral("error")).toString(), QStringLiteral("no key"));
    EXPECT_TRUE(server.requestsTo("/download_file/").empty());
    EXPECT_EQ(storedFlag(hash, "history_id"), 0);
    EXPECT_EQ(storedFlag(hash, "file_id"), 0);

    // "enc" without a key hash: the "no key" error and no request.
    auto bare = makeClip(QByteArrayLiteral("no key here"), QStringLiteral("text_txt+enc"), 1700000201);
    bare->setKey_hash(std::nullopt);
    bare->setFile_id(QVariant(77));
    QFile::remove(bodyPath(*bare->file_hash()));
    down = download(bare);
    ASSERT_TRUE(down.error.has_value());
    EXPECT_EQ(down.error->userInfo.value(QStringLiteral("error")).toString(), QStringLiteral("no key"));
    EXPECT_TRUE(server.requestsTo("/download_file/").empty());
}

TEST_F(FileTransfer, FailedBodiesAreNotFetchedAgainUntilTheServersCopyChanges)
{
    const TestPair other = makePair(QStringLiteral("1357"));
    struct Case {
        const char* name;
        QByteArray data;
        QString type;
        std::function<QByteArray(const QByteArray&)> broken;
    };
    const std::vector<Case> cases = {
        {"sealed under another key", QByteArrayLiteral("note sealed elsewhere, again"), QStringLiteral("text_txt+enc"),
         [&](const QByteArray& data) { return encryptWith(other, data); }},
        {"a zip of another body", QByteArrayLiteral("%PDF-1.4 kept apart"), QStringLiteral("file_pdf+zip"),
         [&](const QByteArray& data) { return zipOf({{md5HexOfData(data), QByteArrayLiteral("not it")}}); }},
        {"a plain body of another digest", QByteArrayLiteral("plain words"), QStringLiteral("text_txt"),
         [](const QByteArray&) { return QByteArrayLiteral("other words"); }},
    };
    qint64 timestamp = 1700000300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString hash = md5HexOfData(c.data);
        auto row = pushRow(makeClip(c.data, c.type, timestamp++));
        forgetBodyLocally(hash);
        serveBody(*row, c.broken(c.data));
        server.clearRequests();

        auto leftovers = [&] {
            QStringList found;
            for (const QString& path : {PathHelper::getTmpDir(hash), PathHelper::getZipsFilePath(hash),
                                        PathHelper::getEncFilePath(*row->encryptFileName()), bodyPath(hash)}) {
                if (QFile::exists(path))
                    found << path;
            }
            return found;
        };
        for (int trigger = 0; trigger < 2; ++trigger) {
            const Answer down = download(rowOf(hash));
            ASSERT_TRUE(down.error.has_value());
            EXPECT_EQ(down.error->userInfo.value(QStringLiteral("error")).toString(), QStringLiteral("file process error"));
            EXPECT_EQ(server.requestsTo("/download_file/").size(), 1u) << "trigger " << trigger;
            EXPECT_EQ(leftovers(), QStringList());
        }

        // The server's copy changes: a new file id is fetched once more, and this time it is sound.
        const qint64 newFileId = row->file_id().toLongLong() + 1000;
        {
            auto lock = server.lock();
            auto& stored = server.clipRoutes().state().accounts[userId].clips[row->history_id().toLongLong()];
            stored.history.insert(QStringLiteral("file_id"), newFileId);
        }
        RawDb raw(dbPath());
        ASSERT_TRUE(raw.exec(QStringLiteral("update History set file_id = ? where file_hash = ?"), {newFileId, hash}));
        serveBody(*row, storedBodyFor(c.data, c.type));
        const Answer down = download(rowOf(hash));
        EXPECT_FALSE(down.error.has_value());
        EXPECT_EQ(server.requestsTo("/download_file/").size(), 2u);
        EXPECT_EQ(readAll(bodyPath(hash)), c.data);
    }
}

TEST_F(FileTransfer, ServerRefusalsOfADownload)
{
    const QByteArray data = QByteArrayLiteral("%PDF-1.4 refused");
    const QString hash = md5HexOfData(data);
    auto row = pushRow(makeClip(data, QStringLiteral("file_pdf+zip"), 1700000300));
    forgetBodyLocally(hash);

    // No body on the server: the clip is detached.
    Answer down = download(rowOf(hash));
    ASSERT_TRUE(down.error.has_value());
    EXPECT_EQ(storedFlag(hash, "history_id"), 0);
    EXPECT_EQ(storedFlag(hash, "file_ready"), 0);
    EXPECT_EQ(storedFlag(hash, "file_id"), 0);

    // A token the server no longer takes: logged out.
    serveBody(*row, zipOf({{hash, data}}));
    server.expireToken(token);
    down = download(row);
    ASSERT_TRUE(down.error.has_value());
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
}

TEST_F(FileTransfer, AFinishedDownloadReportsExactlyOne)
{
    const QByteArray data = randomBytes(300000, 3);
    const QString hash = md5HexOfData(data);
    auto row = pushRow(makeClip(data, QStringLiteral("image_data+zip+enc"), 1700000400));
    ASSERT_FALSE(upload(row).error.has_value());
    forgetBodyLocally(hash);
    auto receiver = std::make_shared<RecordingProgress>();
    ProgressManager::sharedInstance().registerGlobalProgress(receiver);
    ASSERT_FALSE(download(rowOf(hash)).error.has_value());
    ASSERT_TRUE(testenv::waitUntil([&] { return !receiver->fractions.empty() && receiver->fractions.back() == 1.0f; }));
    EXPECT_EQ(readAll(bodyPath(hash)), data);
}

TEST_F(FileTransfer, TokenRepliesMustBeACompleteFormForAnUsableHost)
{
    const QVariantMap good{{QStringLiteral("host"), QStringLiteral("https://store.example.com/")},
                           {QStringLiteral("key"), QStringLiteral("k")},
                           {QStringLiteral("policy"), QStringLiteral("p")},
                           {QStringLiteral("callback"), QStringLiteral("c")},
                           {QStringLiteral("accessid"), QStringLiteral("a")},
                           {QStringLiteral("signature"), QStringLiteral("s")}};
    struct Case {
        const char* name;
        QString key;
        QVariant value;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"as sent", {}, {}, true},
        {"http on loopback", QStringLiteral("host"), QStringLiteral("http://127.0.0.1:8080/oss/"), true},
        {"http on localhost", QStringLiteral("host"), QStringLiteral("http://localhost/oss/"), true},
        {"http elsewhere", QStringLiteral("host"), QStringLiteral("http://store.example.com/"), false},
        {"another scheme", QStringLiteral("host"), QStringLiteral("file:///etc/passwd"), false},
        {"no host name", QStringLiteral("host"), QStringLiteral("https:///x"), false},
        {"a number", QStringLiteral("policy"), QVariant(5), false},
        {"missing", QStringLiteral("signature"), QVariant(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap reply = good;
        if (!c.key.isEmpty()) {
            if (c.value.isValid())
                reply.insert(c.key, c.value);
            else
                reply.remove(c.key);
        }
        const auto form = UploadFileManager::formFromTokenReply(reply);
        ASSERT_EQ(form.has_value(), c.ok);
        if (!form)
            continue;
        QStringList names;
        for (const auto& field : form->fields)
            names << field.first;
        EXPECT_EQ(names, (QStringList{"OSSAccessKeyID", "callback", "key", "policy", "signature", "success_action_status"}));
        EXPECT_EQ(form->fields.back().second, QByteArrayLiteral("200"));
    }
    EXPECT_FALSE(UploadFileManager::formFromTokenReply(QVariantList{}).has_value());
}

TEST_F(FileTransfer, UploadRefusals)
{
    const QByteArray data = QByteArrayLiteral("refused upload");
    const QString hash = md5HexOfData(data);
    auto row = pushRow(makeClip(data, QStringLiteral("text_txt+enc"), 1700000500));

    // A token the server refuses with 404: detached.
    server.setFault("/get_upload_token/", webdouble::Fault::status(404));
    Answer up = upload(row);
    ASSERT_TRUE(up.error.has_value());
    EXPECT_EQ(up.error->domain, QString(TransferError::kDomain));
    EXPECT_EQ(storedFlag(hash, "history_id"), 0);
    server.clearFaults();

    // A clip tagged with an older key: detached, no token asked for.
    row = pushRow(rowOf(hash));
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set key_hash = ? where file_hash = ?"),
                         {makePair(QStringLiteral("9999")).keyHash(), hash}));
    server.clearRequests();
    up = upload(rowOf(hash));
    ASSERT_TRUE(up.error.has_value());
    EXPECT_TRUE(server.requestsTo("/get_upload_token/").empty());
    EXPECT_EQ(storedFlag(hash, "history_id"), 0);

    // A token reply naming a plain-http host elsewhere: refused, nothing posted.
    auto other = pushRow(makeClip(QByteArrayLiteral("other upload"), QStringLiteral("text_txt+enc"), 1700000501));
    server.setFault("/get_upload_token/",
                    webdouble::Fault::rawBody(R"({"host":"http://example.com/","key":"k","policy":"p","callback":"c",)"
                                              R"("accessid":"a","signature":"s"})"));
    server.clearRequests();
    up = upload(other);
    ASSERT_TRUE(up.error.has_value());
    EXPECT_TRUE(server.requestsTo("/oss/").empty());
    EXPECT_EQ(storedFlag(*other->file_hash(), "file_ready"), 0);
}

// Two devices' worth of bodies: the worker sends every local body up, then brings every
// server body down, and a body it cannot move does not hold back the ones behind it.
TEST_F(FileTransfer, TheWorkerMovesEveryBodyAndPassesOverOnesItCannot)
{
    const QByteArray older = QByteArrayLiteral("first body");
    const QByteArray newer = randomBytes(100000, 11);
    auto a = pushRow(makeClip(older, QStringLiteral("text_txt+enc"), 1700000600));
    auto b = pushRow(makeClip(newer, QStringLiteral("image_data+zip+enc"), 1700000601));
    // Newest of all: a kind that does not sync, and one whose body is gone.
    auto odd = makeClip(QByteArrayLiteral("odd"), QStringLiteral("other_kind"), 1700000700);
    auto gone = makeClip(QByteArrayLiteral("gone"), QStringLiteral("text_txt+enc"), 1700000650);
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set file_id = 999, local_file_ok = 1 where file_hash in (?, ?)"),
                         {*odd->file_hash(), *gone->file_hash()}));
    QFile::remove(bodyPath(*gone->file_hash()));

    FileService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] {
        return !FileService::sharedInstance().isRunning() && !storedBody(*a->file_hash()).isEmpty()
               && !storedBody(*b->file_hash()).isEmpty();
    }));
    EXPECT_EQ(storedFlag(*a->file_hash(), "file_ready"), 1);
    EXPECT_EQ(storedFlag(*b->file_hash(), "file_ready"), 1);

    int done = 0;
    int allDone = 0;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const auto t1 = center.addObserver(QString(NotificationName::FileDownloadDone), nullptr, [&](const Notification&) { ++done; });
    const auto t2 = center.addObserver(QString(NotificationName::AllFileDownloadDone), nullptr,
                                       [&](const Notification&) { ++allDone; });
    // The stuck rows are no candidates any more, so the last download is the last one.
    ASSERT_TRUE(raw.exec(QStringLiteral("delete from History where file_hash in (?, ?)"), {*odd->file_hash(), *gone->file_hash()}));
    forgetBodyLocally(*a->file_hash());
    forgetBodyLocally(*b->file_hash());
    FileService::sharedInstance().process();
    EXPECT_TRUE(testenv::waitUntil([&] { return allDone == 1 && !FileService::sharedInstance().isRunning(); }));
    center.removeObserver(t1);
    center.removeObserver(t2);
    EXPECT_EQ(done, 2);
    EXPECT_EQ(readAll(bodyPath(*a->file_hash())), older);
    EXPECT_EQ(readAll(bodyPath(*b->file_hash())), newer);
}

}  // namespace

namespace {

// Restores a transfer session's limits when a test that shortened them ends.
struct DeadlineRestorer {
    HttpSession& session;
    ~DeadlineRestorer() { session.setDeadline(HttpSession::kDefaultDeadline); }
};

}  // namespace

// A hostile store can neither hold a download, fill the disk, nor send it elsewhere: each
// ends as a failed download that leaves no file, and the clip stays to be fetched later.
TEST_F(FileTransfer, ADownloadIsBoundedInTimeSizeAndOrigin)
{
    webdouble::WebServiceDouble elsewhere;
    ASSERT_TRUE(elsewhere.start());
    HttpSession& session = DownloadFileManager::sharedInstance().session();
    DeadlineRestorer restore{session};

    const QByteArray data = randomBytes(2000, 41);
    const QString hash = md5HexOfData(data);
    auto row = pushRow(makeClip(data, QStringLiteral("file_bin+zip"), 1700000600));
    webdouble::Fault oversized =
        webdouble::Fault::rawBody(std::string(size_t(DownloadFileManager::kMaxDownloadSize + 1), 'z'));
    oversized.contentType = "application/octet-stream";
    webdouble::Fault oversizedChunked = oversized;
    oversizedChunked.chunked = true;
    struct Case {
        const char* name;
        webdouble::Fault fault;
    };
    const Case cases[] = {
        {"a byte at a time", webdouble::Fault::trickling(std::chrono::milliseconds(50))},
        {"over the largest stored body", oversized},
        {"over it, no length announced", oversizedChunked},
        {"redirected to another port", webdouble::Fault::redirect(307, elsewhere.baseURL() + "/download_file/")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Short only where the deadline is what ends the transfer.
        session.setDeadline(c.fault.trickle.count() > 0 ? std::chrono::milliseconds(700) : HttpSession::kDefaultDeadline);
        forgetBodyLocally(hash);
        server.setFault("/download_file/", c.fault);
        const Answer down = download(rowOf(hash));
        ASSERT_TRUE(down.error.has_value());
        EXPECT_EQ(down.error->domain, QString(HttpSession::kLimitErrorDomain));
        EXPECT_FALSE(QFile::exists(bodyPath(hash)));
        EXPECT_FALSE(QFile::exists(PathHelper::getZipsFilePath(hash)));
        EXPECT_TRUE(QDir(libraryDir() + QStringLiteral("/tmp")).entryList(QDir::Files).isEmpty());
        EXPECT_EQ(storedFlag(hash, "local_file_ok"), 0);
        EXPECT_GT(storedFlag(hash, "history_id"), 0);
    }
    EXPECT_TRUE(elsewhere.requests().empty());

    // Once the store behaves, the same clip comes down.
    server.clearFaults();
    serveBody(*row, zipOf({{hash, data}}));
    const Answer down = download(rowOf(hash));
    EXPECT_FALSE(down.error.has_value());
    EXPECT_EQ(readAll(bodyPath(hash)), data);
}

// The cap leaves room for the largest clip that syncs in its stored form: a zip just within
// the clip limit, encrypted.
TEST_F(FileTransfer, TheLargestClipStillComesDown)
{
    const QByteArray data = randomBytes(qsizetype(ClipBodyLimit::kBytes) - 4096, 43);
    const QString hash = md5HexOfData(data);
    auto clip = makeClip(data, QStringLiteral("file_bin+zip+enc"), 1700000650);
    ASSERT_LE(clip->file_size().toDouble(), double(ClipBodyLimit::kBytes));
    auto row = pushRow(clip);
    const Answer up = upload(row);
    ASSERT_FALSE(up.error.has_value());
    const QByteArray stored = storedBody(hash);
    EXPECT_GT(stored.size(), ClipBodyLimit::kBytes);
    EXPECT_LE(stored.size(), DownloadFileManager::kMaxDownloadSize);

    forgetBodyLocally(hash);
    const Answer down = download(rowOf(hash));
    EXPECT_FALSE(down.error.has_value());
    EXPECT_EQ(md5HexOfFile(bodyPath(hash)), hash);
}

// A store that trickles or redirects the form elsewhere does not get the body out: the
// upload fails and the clip stays to be sent again.
TEST_F(FileTransfer, AnUploadFormEndsAndNeverLeavesItsOrigin)
{
    webdouble::WebServiceDouble elsewhere;
    ASSERT_TRUE(elsewhere.start());
    HttpSession& session = UploadFileManager::sharedInstance().session();
    DeadlineRestorer restore{session};
    struct Case {
        const char* name;
        webdouble::Fault fault;
        HttpSession::LimitError error;
    };
    const Case cases[] = {
        {"a 307 to another port", webdouble::Fault::redirect(307, elsewhere.baseURL() + "/oss/"),
         HttpSession::RedirectRefused},
        {"a reply a byte at a time", webdouble::Fault::trickling(std::chrono::milliseconds(50)),
         HttpSession::DeadlinePassed},
    };
    qint64 timestamp = 1700000700;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.setDeadline(c.error == HttpSession::DeadlinePassed ? std::chrono::milliseconds(700)
                                                                   : HttpSession::kDefaultDeadline);
        const QByteArray data = QByteArray("sent nowhere else: ") + c.name;
        const QString hash = md5HexOfData(data);
        auto row = pushRow(makeClip(data, QStringLiteral("text_txt+enc"), timestamp++));
        server.clearRequests();
        server.setFault("/oss/", c.fault, "POST");
        const Answer up = upload(row);
        ASSERT_TRUE(up.error.has_value());
        EXPECT_EQ(up.error->domain, QString(HttpSession::kLimitErrorDomain));
        EXPECT_EQ(up.error->code, c.error);
        EXPECT_EQ(server.requestsTo("/oss/").size(), 1u);
        EXPECT_EQ(storedFlag(hash, "file_ready"), 0);
        EXPECT_TRUE(storedBody(hash).isEmpty());
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

// A post reply that drops "enc" from the type leaves the row encrypted, so the body the object
// store receives is still ciphertext.
TEST_F(FileTransfer, AServerTypeWithoutEncNeverSendsABodyInPlainText)
{
    const QByteArray data = QByteArrayLiteral("a note the server must never read");
    const QString hash = md5HexOfData(data);
    // The server knows the clip; its answer to a later post names the type without "enc".
    const auto clip = pushRow(makeClip(data, QStringLiteral("text_txt+enc"), 1700000900));
    const qint64 historyId = clip->history_id().toLongLong();
    const QJsonObject history{{QStringLiteral("file_hash"), hash},
                              {QStringLiteral("history_id"), historyId},
                              {QStringLiteral("file_id"), clip->file_id().toLongLong()},
                              {QStringLiteral("file_ready"), 0},
                              {QStringLiteral("device_name"), QStringLiteral("server")},
                              {QStringLiteral("type"), QStringLiteral("text_txt")},
                              {QStringLiteral("key_hash"), keyHash()}};
    server.setFault("/push/", webdouble::Fault::rawBody(json({{QStringLiteral("code"), 0}, {QStringLiteral("history"), history}})
                                                            .toStdString()),
                    "POST");
    auto out = std::make_shared<PushResult>();
    PushClipsManager::sharedInstance().Post(clip, record(out));
    ASSERT_FALSE(wait(out).error.has_value());
    server.clearFaults();

    auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->device_name(), QStringLiteral("server"));
    EXPECT_EQ(row->type(), QStringLiteral("text_txt+enc"));

    FileService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil(
        [&] { return !FileService::sharedInstance().isRunning() && !storedBody(hash).isEmpty(); }));
    const QByteArray sent = storedBody(hash);
    EXPECT_FALSE(sent.contains(data.left(16)));
    EXPECT_EQ(storedFlag(hash, "file_ready"), 1);
    EXPECT_EQ(rowOf(hash)->type(), QStringLiteral("text_txt+enc"));
}
