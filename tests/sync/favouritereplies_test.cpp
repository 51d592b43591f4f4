// Hostile values in both favourite replies, from the double on loopback: each is checked as
// the pull checks it, and a value that fails leaves the stored rows as they were.

#include "syncfixture.h"

#include "store/dbkeeper.h"
#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/getfavouriterequestmanager.h"
#include "sync/setfavouriterequestmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class FavouriteReplies : public FavouriteWorkersTest {};

// (what the reply's "history" holds besides the clip's own hash, as raw JSON text)
TEST_F(FavouriteReplies, ASetFavouriteReplyWithHostileValuesChangesNothing)
{
    const QString text = QStringLiteral("a favourite the server answers badly");
    const QString hash = md5HexOfString(text);
    auto clip = addTextClip(text, 100, 5);
    clip->setFavourite(QVariant(qint64(100)));
    clip->save();
    addTextClip(text, 100, 5, QString(ClipCategory::Favourite));
    RawDb(dbPath()).exec(QStringLiteral("update History set favourite = 100 where file_hash = ?"), {hash});

    struct Case {
        const char* name;
        std::string fields;
    };
    const Case cases[] = {
        {"favourite INT64_MIN", R"("history_id": 5, "favourite": -9223372036854775808)"},
        {"favourite a fraction", R"("history_id": 5, "favourite": -1500.5)"},
        {"history_id below 1", R"("history_id": -1, "favourite": -200)"},
        {"history_id zero", R"("history_id": 0, "favourite": -200)"},
        {"history_id text", R"("history_id": "5; drop table History", "favourite": -200)"},
        {"history_id missing", R"("favourite": -200)"},
        {"file_id negative", R"("history_id": 5, "file_id": -3, "favourite": -200)"},
        {"file_ready 7", R"("history_id": 5, "file_ready": 7, "favourite": -200)"},
        {"another clip", R"("history_id": 5, "file_hash": "0123456789abcdef0123456789abcdef", "favourite": -200)"},
    };
    for (const Case& c : cases) {
        const std::string body = R"({"code": 0, "history": {"file_hash": ")" + hash.toStdString() + R"(", )" + c.fields
                                 + "}}";
        if (std::string(c.name) == "another clip")
            server.setFault("/set_favourite/", webdouble::Fault::rawBody(
                                                   R"({"code": 0, "history": {)" + c.fields + "}}"));
        else
            server.setFault("/set_favourite/", webdouble::Fault::rawBody(body));
        auto done = std::make_shared<bool>(false);
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            rowOf(hash), [done](const HistoryModelPtr&, const std::optional<RequestError>&) { *done = true; });
        ASSERT_TRUE(testenv::waitUntil([&] { return *done; })) << c.name;
        drainMainQueue();

        RawDb raw(dbPath());
        EXPECT_EQ(countRows(raw, QStringLiteral("file_hash = '%1'").arg(hash)), 2) << c.name;
        EXPECT_EQ(countRows(raw, QStringLiteral("favourite = 100 and history_id = 5 and file_id = 1005 and file_ready = 1")),
                  2)
            << c.name;
    }
    EXPECT_EQ(server.requestsTo("/set_favourite/").size(), std::size(cases));
}

TEST_F(FavouriteReplies, AFavouritesPullWithHostileValuesChangesNothing)
{
    const QString text = QStringLiteral("a favourite row the pull answers badly");
    const QString hash = md5HexOfString(text);
    addTextClip(text, 100, 11);
    addTextClip(text, 100, 11, QString(ClipCategory::Favourite));
    RawDb(dbPath()).exec(QStringLiteral("update History set favourite = 100 where file_hash = ?"), {hash});
    const QString fresh = md5HexOfString(QStringLiteral("never stored"));
    const std::string h = hash.toStdString();
    const std::string f = fresh.toStdString();

    struct Case {
        const char* name;
        std::string arrays;
    };
    const Case cases[] = {
        {"unfavourite INT64_MIN", R"("unfavourites": [{"history_id": 11, "favourite": -9223372036854775808}])"},
        {"unfavourite id text", R"("unfavourites": [{"history_id": "11", "favourite": -900}])"},
        {"unfavourite id negative", R"("unfavourites": [{"history_id": -11, "favourite": -900}])"},
        {"histories INT64_MIN",
         R"("histories": [{"file_hash": ")" + h + R"(", "history_id": 11, "favourite": -9223372036854775808}])"},
        {"histories id negative",
         R"("histories": [{"file_hash": ")" + h + R"(", "history_id": -11, "favourite": -900}])"},
        {"histories file_name a path",
         R"("histories": [{"file_hash": ")" + h + R"(", "history_id": 11, "file_name": "../../x", "favourite": -900}])"},
        {"new with a bad hash",
         R"("histories": [{"file_hash": "../../etc/passwd", "history_id": 12, "type": "text_txt", "favourite": 5, "content": "x"}])"},
        {"new with no id",
         R"("histories": [{"file_hash": ")" + f + R"(", "type": "text_txt", "favourite": 5, "content": "never stored"}])"},
        {"new with a bad key hash",
         R"("histories": [{"file_hash": ")" + f + R"(", "history_id": 13, "key_hash": "zz", "type": "text_txt", "favourite": 5, "content": "never stored"}])"},
        {"delfavourite id text", R"("delfavourites": [{"history_id": "11 or 1=1"}])"},
        {"delfavourite id zero", R"("delfavourites": [{"history_id": 0}])"},
    };
    for (const Case& c : cases) {
        server.setFault("/get_favourite/", webdouble::Fault::rawBody(R"({"code": 0, )" + c.arrays + "}"));
        const Sent sent = send(std::make_shared<GetFavouriteRequestManager>());
        EXPECT_FALSE(sent.error) << c.name;
        drainMainQueue();

        RawDb raw(dbPath());
        EXPECT_EQ(countRows(raw), 2) << c.name;
        EXPECT_EQ(countRows(raw, QStringLiteral("file_hash = '%1' and favourite = 100 and history_id = 11").arg(hash)), 2)
            << c.name;
        EXPECT_EQ(countRows(raw, QStringLiteral("file_name like '%..%'")), 0) << c.name;
    }
    EXPECT_FALSE(QFile::exists(bodyPath(fresh)));
    EXPECT_EQ(server.requestsTo("/get_favourite/").size(), std::size(cases));
}

// The reply is applied as targeted changes while the row exists: a clip deleted here while its
// favourite is on its way, or while the reply is being written (a trigger deletes the rows as
// soon as their favourite changes), stays deleted in every category.
TEST_F(FavouriteReplies, ASetFavouriteReplyForAClipDeletedMeanwhileDoesNotBringItBack)
{
    const QString text = QStringLiteral("a favourite deleted while the server answers");
    const QString hash = md5HexOfString(text);
    RawDb raw(dbPath());
    for (const bool duringTheWrite : {false, true}) {
        auto clip = addTextClip(text, 100, 5);
        clip->setFavourite(QVariant(qint64(100)));
        clip->save();
        if (duringTheWrite) {
            ASSERT_TRUE(raw.exec(QStringLiteral("create trigger delete_on_write after update of favourite on History "
                                                "begin delete from History where file_hash = new.file_hash; end")));
        }

        auto gate = std::make_shared<webdouble::Gate>();
        webdouble::Fault fault = webdouble::Fault::rawBody(
            R"({"code": 0, "history": {"file_hash": ")" + hash.toStdString()
            + R"(", "history_id": 5, "file_id": 1005, "file_ready": 1, "favourite": 200}})");
        fault.gate = gate;
        server.setFault("/set_favourite/", fault);
        auto done = std::make_shared<bool>(false);
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            rowOf(hash), [done](const HistoryModelPtr&, const std::optional<RequestError>&) { *done = true; });
        ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));
        if (!duringTheWrite) {
            ASSERT_TRUE(DBKeeper::deleteClipItem(hash));
        }
        gate->open();
        ASSERT_TRUE(testenv::waitUntil([&] { return *done; }));
        drainMainQueue();

        EXPECT_EQ(countRows(raw, QStringLiteral("file_hash = '%1'").arg(hash)), 0) << duringTheWrite;
        ASSERT_TRUE(raw.exec(QStringLiteral("drop trigger if exists delete_on_write")));
    }
    EXPECT_EQ(server.requestsTo("/set_favourite/").size(), 2u);
}
}  // namespace
