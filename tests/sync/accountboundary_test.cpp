#include "syncfixture.h"

#include "platform/fake/usernotificationsfake.h"
#include "platform/notificationcenter.h"
#include "platform/usernotifications.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "sync/downloadfilemanager.h"
#include "sync/fileservice.h"
#include "sync/replylogin.h"
#include "sync/uploadfilemanager.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

// The folders that hold anything of a clip.
const QStringList& clipFolders()
{
    static const QStringList folders{QStringLiteral("files"), QStringLiteral("zips"), QStringLiteral("encrypts"),
                                     QStringLiteral("previews")};
    return folders;
}

QStringList filesLeft()
{
    QStringList found;
    for (const QString& folder : clipFolders())
        for (const QString& name : QDir(libraryDir() + u'/' + folder).entryList(QDir::Files))
            found << folder + u'/' + name;
    return found;
}

// One logout the service caused, seen by the observers of "USER_LOGOUTED".
struct LogoutSeen {
    int count = 0;
    bool keepsHistory = false;
};

class AccountBoundary : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        FileService::sharedInstance().resetForTesting();
        DownloadFileManager::sharedInstance().resetForTesting();
        UserNotifications::setCurrent(notices);
        logouts = std::make_shared<LogoutSeen>();
        observer = NotificationCenter::defaultCenter().addObserver(
            NotificationName::UserLogouted, nullptr, [seen = logouts](const Notification& n) {
                ++seen->count;
                seen->keepsHistory = n.userInfo.value(QString(NotificationKey::KeepsHistory)).toBool();
            });
    }
    void TearDown() override
    {
        EXPECT_TRUE(testenv::waitUntil([] { return !FileService::sharedInstance().isRunning(); }));
        NotificationCenter::defaultCenter().removeObserver(observer);
        UserNotifications::setCurrent(nullptr);
        FileService::sharedInstance().resetForTesting();
        DownloadFileManager::sharedInstance().resetForTesting();
        SyncTest::TearDown();
    }

    // A body clip as a capture stores it, posted to the server so it has ids there.
    HistoryModelPtr postedBodyClip(const QByteArray& data)
    {
        auto clip = std::make_shared<HistoryModel>();
        const QString hash = md5HexOfData(data);
        clip->setFile_hash(hash);
        clip->setType(QStringLiteral("image_data+zip+enc"));
        clip->setTimestamp(QVariant(1700000100));
        clip->setCategory(QString(ClipCategory::History));
        clip->setFile_name(QStringLiteral("body.bin"));
        clip->setContent(QStringLiteral("body.bin"));
        ClipFileManager::sharedInstance().saveClipData(data, *clip);
        clip->setKey_hash(keyHash());
        clip->save();
        auto out = std::make_shared<PushResult>();
        PushClipsManager::sharedInstance().Post(clip, record(out));
        EXPECT_FALSE(wait(out).error.has_value());
        auto row = rowOf(hash);
        EXPECT_TRUE(row);
        EXPECT_GT(row ? row->history_id().toLongLong() : 0, 0);
        if (row && (!row->key_hash() || row->key_hash()->isEmpty())) {
            row->setKey_hash(keyHash());
            row->save();
        }
        return row;
    }
    // A text clip never sent, with its pending mark; secret when asked.
    HistoryModelPtr pendingText(const QString& text, qint64 time, bool secret = false)
    {
        auto clip = addTextClip(text, time);
        if (secret)
            clip->signSecert(true);
        clip->increase_change_count();
        return clip;
    }
    template <class Start>
    std::optional<RequestError> answerOf(Start start)
    {
        auto done = std::make_shared<std::optional<std::optional<RequestError>>>();
        start([done](const QVariant&, const std::optional<RequestError>& error) { *done = error; });
        EXPECT_TRUE(testenv::waitUntil([&] { return done->has_value(); }, std::chrono::seconds(30)));
        return done->value_or(std::nullopt);
    }
    void forgetBodyLocally(const QString& hash)
    {
        QFile::remove(bodyPath(hash));
        QFile::remove(PathHelper::getZipsFilePath(hash));
        QDir(PathHelper::getEncFilePath()).removeRecursively();
        QDir(PathHelper::getPreviewsFilePath()).removeRecursively();
        RawDb raw(dbPath());
        ASSERT_TRUE(raw.exec(QStringLiteral("update History set local_file_ok = 0 where file_hash = ?"), {hash}));
    }
    // Every worker woken, as a login does, and run until all are idle.
    void runWorkers()
    {
        HistoryService::sharedInstance().process();
        FileService::sharedInstance().process();
        ASSERT_TRUE(testenv::waitUntil([] {
            return !HistoryService::sharedInstance().isRunning() && !FileService::sharedInstance().isRunning();
        }));
        drainMainQueue();
    }
    std::map<qint64, webdouble::ClipRoutes::StoredClip> clipsOf(qint64 account)
    {
        auto lock = server.lock();
        return server.clipRoutes().state().accounts[account].clips;
    }
    // Another account of the double logs in, with a key of its own installed.
    qint64 logInAnotherAccount()
    {
        const QString email = QStringLiteral("other@example.com");
        const qint64 other = server.addAccount(email, QStringLiteral("pw2"));
        ConfigureManager::sharedInstance().setLogin(server.issueToken(email), QString::number(other), email);
        drainMainQueue();
        install(otherPair, kPin);
        return other;
    }

    std::shared_ptr<UserNotificationsFake> notices = std::make_shared<UserNotificationsFake>();
    std::shared_ptr<LogoutSeen> logouts;
    NotificationCenter::Token observer = 0;
    TestPair otherPair = makePair(kPin, QByteArrayLiteral("other"));
};

// A 401 from either token endpoint ends the login but keeps the history; when another account
// logs in, nothing of the first one reaches it or stays on disk.
enum class Endpoint { UploadToken, Download };

class TokenEndpointRefusal : public AccountBoundary, public ::testing::WithParamInterface<Endpoint> {};

TEST_P(TokenEndpointRefusal, ThenAnotherAccountLeavesNothingOfTheFirst)
{
    const Endpoint endpoint = GetParam();
    const QByteArray data = QByteArrayLiteral("an image body of the first account");
    const HistoryModelPtr body = postedBodyClip(data);
    ASSERT_TRUE(body);
    pendingText(QStringLiteral("never sent by the first account"), 1700000200);
    pendingText(QStringLiteral("password of the first account"), 1700000300, true);
    if (endpoint == Endpoint::Download) {
        ASSERT_FALSE(answerOf([&](auto cb) { UploadFileManager::sharedInstance().upload(body, cb); }).has_value());
        forgetBodyLocally(*body->file_hash());
    }
    RawDb raw(dbPath());
    ASSERT_EQ(countRows(raw), 3);

    server.expireToken(token);
    const auto refusal = answerOf([&](auto cb) {
        if (endpoint == Endpoint::UploadToken)
            UploadFileManager::sharedInstance().upload(rowOf(*body->file_hash()), cb);
        else
            DownloadFileManager::sharedInstance().downloadHistory(rowOf(*body->file_hash()), cb);
    });
    ASSERT_TRUE(refusal.has_value());
    ASSERT_TRUE(testenv::waitUntil([&] { return logouts->count == 1; }));
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
    EXPECT_TRUE(logouts->keepsHistory);
    EXPECT_EQ(notices->count(), 1);
    // Not the user's choice: the history stays for that account.
    EXPECT_EQ(countRows(raw), 3);
    EXPECT_EQ(ConfigureManager::sharedInstance().historyKeptForUserId(), QString::number(userId));

    server.clearRequests();
    const qint64 other = logInAnotherAccount();
    runWorkers();
    EXPECT_EQ(countRows(raw), 0);
    EXPECT_EQ(filesLeft(), QStringList());
    EXPECT_TRUE(clipsOf(other).empty());
    EXPECT_TRUE(server.requestsTo("/push/").empty());
    EXPECT_TRUE(server.requestsTo("/get_upload_token/").empty());
    EXPECT_FALSE(ConfigureManager::sharedInstance().historyKeptForUserId().has_value());
}

INSTANTIATE_TEST_SUITE_P(AccountBoundary, TokenEndpointRefusal, ::testing::Values(Endpoint::UploadToken, Endpoint::Download),
                         [](const ::testing::TestParamInfo<Endpoint>& info) {
                             return info.param == Endpoint::UploadToken ? "UploadToken" : "Download";
                         });

// The same account logs in again: its history is all there and its pending change is sent;
// the secret clip stays here.
TEST_F(AccountBoundary, ARefusedTokenThenTheSameAccountKeepsTheHistoryAndSendsWhatIsPending)
{
    const HistoryModelPtr pending = pendingText(QStringLiteral("copied before the token expired"), 1700000200);
    const HistoryModelPtr secret = pendingText(QStringLiteral("password 1234"), 1700000300, true);
    const HistoryModelPtr body = postedBodyClip(QByteArrayLiteral("a body waiting for its upload"));
    ASSERT_TRUE(body);
    server.expireToken(token);
    ASSERT_TRUE(answerOf([&](auto cb) { UploadFileManager::sharedInstance().upload(body, cb); }).has_value());
    ASSERT_TRUE(testenv::waitUntil([&] { return logouts->count == 1; }));

    ConfigureManager::sharedInstance().setLogin(server.issueToken(kEmail), QString::number(userId), kEmail);
    drainMainQueue();
    runWorkers();

    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 3);
    QStringList held;
    for (const auto& [id, clip] : clipsOf(userId))
        held << clip.history.value(QStringLiteral("file_hash")).toString();
    EXPECT_TRUE(held.contains(*pending->file_hash()));
    EXPECT_TRUE(held.contains(*body->file_hash()));
    EXPECT_FALSE(held.contains(*secret->file_hash()));
    EXPECT_EQ(countRows(raw, QStringLiteral("change_timestamp > 0 and secert = 0")), 0);
    EXPECT_FALSE(ConfigureManager::sharedInstance().historyKeptForUserId().has_value());
}

// A logout asked for while a reply's login scope is open (a callee of the reply) still
// purges: the scope guards the reply's own writes, never the purge.
TEST_F(AccountBoundary, ALogoutUnderAnEndedReplysScopeStillPurges)
{
    pendingText(QStringLiteral("pending under the scope"), 1700000200);
    {
        ReplyLogin::Scope scope(ReplyLogin::current());
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    }
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
    EXPECT_EQ(filesLeft(), QStringList());
}

// A login is a boundary as a logout is: a reply sent under the login before it (here a post's
// answer, naming the clip's server id) writes nothing once the user has logged in again.
TEST_F(AccountBoundary, AReplySentBeforeTheNextLoginWritesNothing)
{
    const QString hash = *pendingText(QStringLiteral("posted as the user logs in again"), 1700000200)->file_hash();
    const quint64 sentUnder = ReplyLogin::current();
    ConfigureManager::sharedInstance().setLogin(server.issueToken(kEmail), QString::number(userId), kEmail);
    {
        ReplyLogin::Scope scope(sentUnder);
        DBKeeper::ServerState state;
        state.historyId = QVariant(qint64(77));
        DBKeeper::applyServerState(hash, QString(ClipCategory::History), state);
    }
    const HistoryModelPtr row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(DBFetcher::integerFromValue(row->history_id()), 0);
    EXPECT_GT(row->change_timestamp().toDouble(), 0) << "still owed to the service";
}

// The body of a download that arrives as the login ends leaves nothing on disk, plain or
// sealed, once the logout purge has run.
TEST_F(AccountBoundary, ALogoutDuringADownloadsDecryptionLeavesNothingPlain)
{
    const QByteArray data = QByteArrayLiteral("plain words of a body that is being opened");
    const HistoryModelPtr body = postedBodyClip(data);
    ASSERT_TRUE(body);
    const QString hash = *body->file_hash();
    ASSERT_FALSE(answerOf([&](auto cb) { UploadFileManager::sharedInstance().upload(body, cb); }).has_value());
    forgetBodyLocally(hash);

    auto done = std::make_shared<bool>(false);
    {
        // Held as a capture would: the body has arrived when the purge runs, and its undo
        // comes after.
        QMutexLocker hold(&ClipFileManager::bodyLock());
        DownloadFileManager::sharedInstance().downloadHistory(
            rowOf(hash), [done](const QVariant&, const std::optional<RequestError>&) { *done = true; });
        ASSERT_TRUE(testenv::waitUntil([&] { return !server.requestsTo("/download_file/").empty(); }));
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    }
    ASSERT_TRUE(testenv::waitUntil([&] { return *done; }, std::chrono::seconds(30)));
    EXPECT_EQ(filesLeft(), QStringList());
    EXPECT_FALSE(QFile::exists(PathHelper::getTmpDir(hash)));
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
}

}  // namespace
