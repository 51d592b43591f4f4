#include "syncfixture.h"

#include "store/notificationnames.h"
#include "store/tombstones.h"
#include "sync/historyservice.h"
#include "sync/pullclipmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class PushClips : public SyncTest {
protected:
    PushClipsManager& push() { return PushClipsManager::sharedInstance(); }

    PushResult post(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<PushResult>();
        push().Post(clip, record(out));
        return wait(out);
    }
    // The "history" object of the last request to "/push/".
    QJsonObject lastSentHistory()
    {
        const auto sent = server.requestsTo("/push/");
        if (sent.empty())
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(sent.back().body))
            .object()
            .value(QStringLiteral("history"))
            .toObject();
    }
    HistoryModelPtr clipOfType(const QString& content, const QString& type, double size = 0)
    {
        auto clip = addTextClip(content, 100);
        clip->setType(type);
        clip->setFile_size(QVariant(size));
        clip->save();
        return clip;
    }
    void answerPostWith(const QJsonObject& reply)
    {
        server.setFault("/push/", webdouble::Fault::rawBody(json(reply).toStdString()));
    }
};

}  // namespace

TEST_F(PushClips, EncryptedTypesLeaveOnlyAsCiphertextUnderTheKeysHash)
{
    for (const QString& type : {QStringLiteral("text_txt+enc"), QStringLiteral("image_data+zip+enc")}) {
        SCOPED_TRACE(type.toStdString());
        const QString content = QStringLiteral("secret %1").arg(type);
        const auto clip = clipOfType(content, type, 2048);
        const PushResult r = post(clip);
        ASSERT_FALSE(r.error);
        EXPECT_TRUE(r.onMain);

        const QJsonObject sent = lastSentHistory();
        EXPECT_EQ(sent.value(QStringLiteral("key_hash")).toString(), keyHash());
        const QString cipherText = sent.value(QStringLiteral("content")).toString();
        EXPECT_FALSE(cipherText.contains(QStringLiteral("secret")));
        EXPECT_EQ(pair.open(QByteArray::fromBase64(cipherText.toLatin1())), content.toUtf8());
        for (const auto& request : server.requestsTo("/push/"))
            EXPECT_EQ(request.body.find("secret"), std::string::npos);

        // The server's ids and key hash reach the row.
        const auto server = r.result.value<HistoryModelPtr>();
        ASSERT_TRUE(server);
        const auto row = rowOf(*clip->file_hash());
        EXPECT_GT(row->history_id().toLongLong(), 0);
        EXPECT_EQ(row->history_id(), server->history_id());
        EXPECT_GT(row->file_id().toLongLong(), 0);
        EXPECT_EQ(row->key_hash(), keyHash());
    }
}

TEST_F(PushClips, APlainTypeIsPostedAsItIs)
{
    const auto clip = clipOfType(QStringLiteral("plain words"), QStringLiteral("text_txt"));
    ASSERT_FALSE(post(clip).error);
    const QJsonObject sent = lastSentHistory();
    EXPECT_EQ(sent.value(QStringLiteral("content")).toString(), QStringLiteral("plain words"));
    EXPECT_FALSE(sent.contains(QStringLiteral("key_hash")));
}

TEST_F(PushClips, AClipAboveTheSizeLimitIsRefused)
{
    const auto atLimit = clipOfType(QStringLiteral("at limit"), QStringLiteral("text_txt+enc"), 5767168);
    const PushResult ok = post(atLimit);
    EXPECT_FALSE(ok.error);
    EXPECT_TRUE(ok.result.isValid());

    server.clearRequests();
    const auto over = clipOfType(QStringLiteral("over"), QStringLiteral("text_txt+enc"), 5767169);
    const PushResult refused = post(over);
    EXPECT_FALSE(refused.error);
    EXPECT_FALSE(refused.result.isValid());
    EXPECT_TRUE(server.requestsTo("/push/").empty());
}

TEST_F(PushClips, ASecondPostOfTheSameClipWhileTheFirstIsInFlightIsRefused)
{
    const auto clip = clipOfType(QStringLiteral("twice"), QStringLiteral("text_txt+enc"));
    server.setFault("/push/", webdouble::Fault::delayed(std::chrono::milliseconds(400)));
    auto first = std::make_shared<PushResult>();
    push().Post(clip, record(first));
    EXPECT_TRUE(push().isPosting(*clip->file_hash()));

    StepOutcome::Kind outcome = StepOutcome::Kind::Sent;
    auto second = std::make_shared<PushResult>();
    push().Post(clip, PushClipsManager::OutcomeCallback(
                          [second, &outcome](const QVariant& result, const std::optional<RequestError>& error,
                                             const StepOutcome& o) {
                              second->called = true;
                              second->result = result;
                              second->error = error;
                              outcome = o.kind;
                          }));
    wait(second);
    EXPECT_EQ(outcome, StepOutcome::Kind::InFlight);
    EXPECT_FALSE(second->result.isValid());
    EXPECT_FALSE(second->error);
    EXPECT_FALSE(first->called);

    ASSERT_FALSE(wait(first).error);
    server.clearFaults();
    EXPECT_FALSE(post(clip).error);
    EXPECT_EQ(server.requestsTo("/push/").size(), 2u);
}

TEST_F(PushClips, AFailedPostIsAServerError)
{
    const auto clip = clipOfType(QStringLiteral("refused"), QStringLiteral("text_txt+enc"));
    answerPostWith({{QStringLiteral("code"), 3}, {QStringLiteral("msg"), QStringLiteral("no")}});
    PushResult r = post(clip);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->domain, PushClipsManager::serverErrorDomain());
    EXPECT_EQ(r.error->code, 3);
    EXPECT_EQ(r.error->userInfo.value(QStringLiteral("msg")).toString(), QStringLiteral("no"));

    for (const auto& fault : {webdouble::Fault::rawBody(""), webdouble::Fault::status(502),
                              webdouble::Fault::rawBody("<html>")}) {
        server.setFault("/push/", fault);
        r = post(clip);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->domain, PushClipsManager::serverErrorDomain());
        EXPECT_EQ(r.error->code, 0);
        EXPECT_TRUE(r.error->userInfo.isEmpty());
    }
    // The clip is untouched and still pending for the next pass.
    EXPECT_EQ(rowOf(*clip->file_hash())->history_id().toLongLong(), 0);
}

TEST_F(PushClips, ThePostReplysFavouriteWinsOnlyWithALargerMagnitude)
{
    struct Case {
        qint64 local;
        qint64 server;
        qint64 expected;
        bool copyKept;
    };
    const Case cases[] = {{100, -200, 0, false}, {200, -200, 200, true}, {0, 300, 300, true}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.local << " vs " << c.server);
        const QString text = QStringLiteral("favourite %1").arg(n++);
        const auto clip = addTextClip(text, 100);
        addTextClip(text, 100, 0, QString(ClipCategory::Favourite));
        DBKeeper::setFavourite(QVariant(c.local), clip->file_hash());
        clip->setFavourite(QVariant(c.local));
        answerPostWith({{QStringLiteral("code"), 0},
                        {QStringLiteral("history"), QJsonObject{{QStringLiteral("file_hash"), *clip->file_hash()},
                                                                {QStringLiteral("history_id"), 70 + n},
                                                                {QStringLiteral("file_id"), 80 + n},
                                                                {QStringLiteral("favourite"), c.server}}}});
        ASSERT_FALSE(post(clip).error);
        const auto row = rowOf(*clip->file_hash());
        EXPECT_EQ(row->favourite().toLongLong(), c.expected);
        EXPECT_EQ(row->history_id().toLongLong(), 70 + n);
        EXPECT_EQ(rowOf(*clip->file_hash(), QString(ClipCategory::Favourite)) != nullptr, c.copyKept);
    }
}

TEST_F(PushClips, AClipDeletedWhileItsPostIsInFlightStaysDeleted)
{
    const auto clip = clipOfType(QStringLiteral("gone soon"), QStringLiteral("text_txt+enc"));
    webdouble::Fault late = webdouble::Fault::rawBody(
        json({{QStringLiteral("code"), 0},
              {QStringLiteral("history"), QJsonObject{{QStringLiteral("file_hash"), *clip->file_hash()},
                                                      {QStringLiteral("history_id"), 5},
                                                      {QStringLiteral("file_id"), 6},
                                                      {QStringLiteral("favourite"), -900}}}})
            .toStdString());
    late.delay = std::chrono::milliseconds(300);
    server.setFault("/push/", late);
    auto out = std::make_shared<PushResult>();
    push().Post(clip, record(out));
    DBKeeper::deleteClipItem(clip->file_hash());
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({clip});

    EXPECT_FALSE(wait(out).error);
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
}

// The post still creates the clip on the server: its reply's id is deleted there too, so no
// other device keeps it and a pull here does not bring it back.
TEST_F(PushClips, AClipDeletedDuringItsFirstPostIsDeletedOnTheServerToo)
{
    const auto clip = clipOfType(QStringLiteral("deleted on its way"), QStringLiteral("text_txt+enc"));
    const QString hash = *clip->file_hash();
    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1), "POST");
    auto posted = std::make_shared<PushResult>();
    push().Post(clip, record(posted));
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));

    // Never pushed yet, so the delete itself is local.
    auto deleted = std::make_shared<PushResult>();
    push().Del(clip, record(deleted));
    EXPECT_FALSE(wait(deleted).error);
    ASSERT_FALSE(rowOf(hash));

    gate->open();
    EXPECT_FALSE(wait(posted).error);
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/push/").size() == 2; }));
    ASSERT_TRUE(testenv::waitUntil([&] { return serverClips().empty(); }));
    const auto requests = server.requestsTo("/push/");
    EXPECT_EQ(requests.back().method, "DELETE");
    EXPECT_FALSE(rowOf(hash));

    const auto pulled = send(std::make_shared<PullClipManager>());
    EXPECT_FALSE(pulled.error);
    drainMainQueue();
    EXPECT_FALSE(rowOf(hash));
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
}

TEST_F(PushClips, APutAnsweredWithMinusTenDetachesTheClip)
{
    const auto clip = addTextClip(QStringLiteral("unknown to the server"), 100, 999);
    DBKeeper::setRemoteFileReady(QVariant(1), clip->file_hash(), keyHash());
    clip->setKey_hash(keyHash());
    auto out = std::make_shared<PushResult>();
    push().Put(clip, record(out));
    const PushResult r = wait(out);
    EXPECT_FALSE(r.error);
    EXPECT_EQ(QJsonDocument::fromJson(r.result.toByteArray()).object().value(QStringLiteral("code")).toInt(), -10);
    EXPECT_FALSE(lastSentHistory().contains(QStringLiteral("content")));

    const auto row = rowOf(*clip->file_hash());
    EXPECT_EQ(row->history_id().toLongLong(), 0);
    EXPECT_EQ(row->file_id().toLongLong(), 0);
    EXPECT_EQ(row->file_ready().toLongLong(), 0);
    EXPECT_EQ(row->key_hash(), std::nullopt);
}

TEST_F(PushClips, DeletingANeverPushedClipStaysLocal)
{
    const auto clip = addTextClip(QStringLiteral("local only"), 100);
    addTextClip(QStringLiteral("local only"), 100, 0, QString(ClipCategory::Favourite));
    NotificationCounter changed(NotificationName::DataChanged);
    auto out = std::make_shared<PushResult>();
    push().Del(clip, record(out));
    const PushResult r = wait(out);
    EXPECT_FALSE(r.result.isValid());
    EXPECT_FALSE(r.error);
    EXPECT_TRUE(server.requestsTo("/push/").empty());
    EXPECT_FALSE(rowOf(*clip->file_hash()));
    EXPECT_FALSE(rowOf(*clip->file_hash(), QString(ClipCategory::Favourite)));
    EXPECT_FALSE(QFile::exists(bodyPath(*clip->file_hash())));
    EXPECT_TRUE(testenv::waitUntil([&] { return changed.count() >= 1; }));
}

// Here at once; on the server by its id, through the history worker (deletes_test.cpp has the
// replies that do not confirm it).
TEST_F(PushClips, DeletingAPushedClipDeletesItHereAtOnceAndOnTheServerByItsId)
{
    const auto clip = clipOfType(QStringLiteral("on the server"), QStringLiteral("text_txt+enc"));
    ASSERT_FALSE(post(clip).error);
    ASSERT_EQ(serverClips().size(), 1u);
    clip->fetch();

    auto out = std::make_shared<PushResult>();
    push().Del(clip, record(out));
    const PushResult r = wait(out);
    EXPECT_FALSE(r.error);
    EXPECT_FALSE(rowOf(*clip->file_hash()));
    EXPECT_FALSE(QFile::exists(bodyPath(*clip->file_hash())));
    ASSERT_TRUE(testenv::waitUntil([&] { return serverClips().empty(); }));
    const auto deletes = server.requestsTo("/push/");
    EXPECT_EQ(deletes.back().method, "DELETE");
    EXPECT_NE(deletes.back().query.find("&history_id=" + std::to_string(clip->history_id().toLongLong())),
              std::string::npos);
}

// The service's "no longer here" (-10) to a delete is what the delete wanted: the clip goes
// here too, body and all, instead of staying as if the delete had failed.
TEST_F(PushClips, ADeleteTheServiceNoLongerHasCountsAsDone)
{
    const auto clip = clipOfType(QStringLiteral("already gone there"), QStringLiteral("text_txt+enc"));
    ASSERT_FALSE(post(clip).error);
    clip->fetch();
    {
        auto lock = server.lock();
        server.clipRoutes().state().accounts[userId].clips.clear();
    }
    auto out = std::make_shared<PushResult>();
    push().Del(clip, record(out));
    wait(out);
    // The history worker sends the delete; the -10 it meets lets it go on, with nothing left to
    // send under that id.
    const std::string byId = "&history_id=" + std::to_string(clip->history_id().toLongLong());
    ASSERT_TRUE(testenv::waitUntil([&] {
        for (const auto& request : server.requestsTo("/push/"))
            if (request.method == "DELETE" && request.query.find(byId) != std::string::npos)
                return !HistoryService::sharedInstance().isRunning();
        return false;
    }));
    EXPECT_FALSE(Tombstones::nextToSend(QString::number(userId), {}));
    EXPECT_FALSE(rowOf(*clip->file_hash()));
    EXPECT_FALSE(QFile::exists(bodyPath(*clip->file_hash())));
    EXPECT_TRUE(serverClips().empty());
}

TEST_F(PushClips, WithoutAKeyNothingIsSentAndADeleteIsLocal)
{
    const auto clip = addTextClip(QStringLiteral("keyless"), 100, 12);
    zm().cleanKeyDatas();
    drainMainQueue();
    EXPECT_FALSE(post(clip).result.isValid());
    auto put = std::make_shared<PushResult>();
    push().Put(clip, record(put));
    EXPECT_FALSE(wait(put).result.isValid());
    auto del = std::make_shared<PushResult>();
    push().Del(clip, record(del));
    EXPECT_FALSE(wait(del).error);
    EXPECT_TRUE(server.requestsTo("/push/").empty());
    EXPECT_FALSE(rowOf(*clip->file_hash()));
    // Still owed to the service, once there is a key again.
    ASSERT_EQ(Tombstones::all().size(), 1u);
    EXPECT_EQ(Tombstones::all()[0].historyId, 12);
}

TEST_F(PushClips, PutAndGetOfAClipWithoutAServerIdAreRefused)
{
    const auto clip = addTextClip(QStringLiteral("no id"), 100);
    clip->setHistory_id(QVariant());
    auto put = std::make_shared<PushResult>();
    push().Put(clip, record(put));
    auto get = std::make_shared<PushResult>();
    push().Get(clip, record(get));
    EXPECT_FALSE(wait(put).result.isValid());
    EXPECT_FALSE(wait(get).result.isValid());
    EXPECT_TRUE(server.requestsTo("/push/").empty());
}

TEST_F(PushClips, GetFetchesTheServersCopy)
{
    const auto clip = clipOfType(QStringLiteral("fetch me"), QStringLiteral("text_txt+enc"));
    ASSERT_FALSE(post(clip).error);
    clip->fetch();
    auto out = std::make_shared<PushResult>();
    push().Get(clip, record(out));
    const QJsonObject reply = QJsonDocument::fromJson(wait(out).result.toByteArray()).object();
    EXPECT_EQ(reply.value(QStringLiteral("code")).toInt(), 0);
    EXPECT_EQ(reply.value(QStringLiteral("history")).toObject().value(QStringLiteral("file_hash")).toString(),
              *clip->file_hash());
}
