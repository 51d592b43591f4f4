// Replies that come back after the login they were sent for has ended: a logout or a second
// login while a post, a favourites pull or a download is held by the double. Whatever the
// reply says, the store of the login now in place (or the logged-out store) stays as it is.

#include "syncfixture.h"

#include "store/pathhelper.h"
#include "sync/downloadfilemanager.h"
#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/getfavouriterequestmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class ReplyOfEndedLogin : public FavouriteWorkersTest {
protected:
    // Holds every request of the method to the path until the gate opens.
    std::shared_ptr<webdouble::Gate> hold(const std::string& path, const std::string& method, int times = 1)
    {
        auto gate = std::make_shared<webdouble::Gate>();
        server.setFault(path, webdouble::Fault::held(gate, times), method);
        return gate;
    }
    static bool arrived(const std::shared_ptr<webdouble::Gate>& gate, int count = 1)
    {
        return testenv::waitUntil([&] { return gate->arrived() >= count; }, std::chrono::seconds(20));
    }

    // Logs the first account out and a second one in, with the same key installed.
    void secondLogin()
    {
        logout();
        drainMainQueue();
        otherId = server.addAccount(kOtherEmail, QStringLiteral("pw2"));
        ConfigureManager& account = ConfigureManager::sharedInstance();
        account.setLoginUserId(QString::number(otherId));
        account.setLoginUserToken(server.issueToken(kOtherEmail));
        drainMainQueue();
        install(pair, kPin);
    }
    std::map<qint64, webdouble::ClipRoutes::StoredClip> clipsOf(qint64 account)
    {
        auto lock = server.lock();
        return server.clipRoutes().state().accounts[account].clips;
    }
    static std::optional<qint64> serverIdOf(const std::map<qint64, webdouble::ClipRoutes::StoredClip>& clips,
                                            const QString& hash)
    {
        for (const auto& [id, clip] : clips)
            if (clip.history.value(QStringLiteral("file_hash")).toString() == hash)
                return id;
        return std::nullopt;
    }

    inline static const QString kOtherEmail = QStringLiteral("other@example.com");
    qint64 otherId = 0;
};

// The first account's post reply arrives after a second login has recaptured the clip: the
// row keeps none of the first account's ids, so the second account's worker posts it and the
// clip reaches the second account (a stale history id would have been put, answered -10 and
// left the clip local for ever).
TEST_F(ReplyOfEndedLogin, PostReplyAfterLogoutLeavesTheRecapturedClipToTheNextAccount)
{
    const QString text = QStringLiteral("copied before and after the logout");
    const QString hash = md5HexOfString(text);
    auto gate = hold("/push/", "POST");
    addTextClip(text, 100)->increase_change_count();
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(arrived(gate));

    secondLogin();
    addTextClip(text, 200)->increase_change_count();
    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] { return !PushClipsManager::sharedInstance().isPosting(hash); }));
    HistoryService::sharedInstance().process();

    ASSERT_TRUE(testenv::waitUntil([&] { return serverIdOf(clipsOf(otherId), hash).has_value(); },
                                   std::chrono::seconds(20)));
    ASSERT_TRUE(testenv::waitUntil([&] {
        const auto row = rowOf(hash);
        return row && !HistoryService::sharedInstance().isRunning() && row->change_timestamp().toDouble() == 0;
    }));
    // The first account's server took its post; the second's got the clip under its own id.
    EXPECT_TRUE(serverIdOf(clipsOf(userId), hash).has_value());
    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->history_id().toLongLong(), *serverIdOf(clipsOf(otherId), hash));
    EXPECT_EQ(row->key_hash().value_or(QString()), keyHash());
    EXPECT_TRUE(server.requestsTo("/push/").size() >= 2u);
    for (const auto& request : server.requestsTo("/push/"))
        EXPECT_NE(request.method, "PUT") << "a put of the first account's id went out";
}

// A favourites pull of the first account answered after a second login: its deletions,
// unfavourings and new favourites touch nothing of the second account's store.
TEST_F(ReplyOfEndedLogin, FavouritesPullReplyOfAnEndedLoginChangesNothing)
{
    const QString fresh = QStringLiteral("a favourite only the first account has");
    const QJsonObject reply{
        {QStringLiteral("code"), 0},
        {QStringLiteral("cipher"), cipher()},
        {QStringLiteral("delfavourites"), QJsonArray{QJsonObject{{QStringLiteral("history_id"), 7}}}},
        {QStringLiteral("unfavourites"),
         QJsonArray{QJsonObject{{QStringLiteral("history_id"), 8}, {QStringLiteral("favourite"), -4000000000LL}}}},
        {QStringLiteral("histories"),
         QJsonArray{QJsonObject{{QStringLiteral("file_hash"), md5HexOfString(fresh)},
                                {QStringLiteral("history_id"), 9},
                                {QStringLiteral("file_id"), 1009},
                                {QStringLiteral("file_ready"), 1},
                                {QStringLiteral("timestamp"), 300},
                                {QStringLiteral("type"), QStringLiteral("text_txt")},
                                {QStringLiteral("favourite"), 300},
                                {QStringLiteral("content"), fresh}}}},
    };
    auto gate = std::make_shared<webdouble::Gate>();
    webdouble::Fault fault = webdouble::Fault::rawBody(json(reply).toStdString());
    fault.gate = gate;
    fault.times = 1;
    server.setFault("/get_favourite/", fault);

    auto out = std::make_shared<Sent>();
    auto request = std::make_shared<GetFavouriteRequestManager>();
    request->request([out](const QVariant& result, int status, const std::optional<RequestError>& error) {
        out->called = true;
        out->result = result;
        out->status = status;
        out->error = error;
    });
    ASSERT_TRUE(arrived(gate));

    secondLogin();
    // The second account's favourites, under server ids its own server gave.
    auto seven = addTextClip(QStringLiteral("seven"), 70, 7, QString(ClipCategory::Favourite));
    auto eight = addTextClip(QStringLiteral("eight"), 80, 8, QString(ClipCategory::Favourite));
    eight->setFavourite(QVariant(qint64(100)));
    eight->save();
    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(20)));
    drainMainQueue();

    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw, QStringLiteral("history_id = 7")), 1);
    EXPECT_EQ(countRows(raw, QStringLiteral("history_id = 8 and favourite = 100")), 1);
    EXPECT_EQ(countRows(raw, QStringLiteral("file_hash = '%1'").arg(md5HexOfString(fresh))), 0);
    EXPECT_EQ(countRows(raw), 2);
    EXPECT_FALSE(QFile::exists(bodyPath(md5HexOfString(fresh))));
    // The server heard one favourites pull, from the first account.
    ASSERT_EQ(server.requestsTo("/get_favourite/").size(), 1u);
    EXPECT_NE(server.requestsTo("/get_favourite/")[0].query.find(token.toStdString()), std::string::npos);
}

// A download that finishes after the logout purge leaves no body in the emptied folders.
TEST_F(ReplyOfEndedLogin, DownloadFinishingAfterLogoutLeavesNoBody)
{
    const QString text = QStringLiteral("a body on its way down");
    const QString hash = md5HexOfString(text);
    auto clip = addTextClip(text, 100);
    clip->setType(QStringLiteral("text_txt"));
    clip->save();
    auto posted = std::make_shared<PushResult>();
    PushClipsManager::sharedInstance().Post(clip, record(posted));
    ASSERT_FALSE(wait(posted).error.has_value());
    {
        auto lock = server.lock();
        server.fileRoutes().state().bodies[QString::number(userId) + u'/' + hash] = text.toUtf8();
    }
    QFile::remove(bodyPath(hash));
    RawDb(dbPath()).exec(QStringLiteral("update History set local_file_ok = 0, file_ready = 1 where file_hash = ?"),
                         {hash});

    auto gate = hold("/download_file/", "GET");
    auto done = std::make_shared<PushResult>();
    DownloadFileManager::sharedInstance().downloadHistory(rowOf(hash), record(done));
    ASSERT_TRUE(arrived(gate));
    logout();
    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] { return done->called; }, std::chrono::seconds(20)));

    EXPECT_TRUE(done->error.has_value());
    EXPECT_FALSE(QFile::exists(bodyPath(hash)));
    EXPECT_FALSE(QFile::exists(PathHelper::getTmpDir(hash)));
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
    // The server still holds the clip and its body: only this device logged out.
    EXPECT_TRUE(serverIdOf(clipsOf(userId), hash).has_value());
}

}  // namespace
