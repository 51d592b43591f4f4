#include "syncfixture.h"

#include "sync/replylogin.h"
#include "sync/serverclip.h"
#include "sync/serverclipstore.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class ServerClipRoads : public SyncTest {
protected:
    static inline const QString kText = QStringLiteral("words from the laptop");

    enum class KeyHash { None, Current, Other };
    enum class Content { Absent, Plain, Encrypted, Garbage };

    QJsonObject element(const QString& type, KeyHash key, Content content, bool withHistoryId = true)
    {
        QJsonObject e{{QStringLiteral("file_hash"), md5HexOfString(kText)},
                      {QStringLiteral("file_id"), 1077},
                      {QStringLiteral("file_ready"), 1},
                      {QStringLiteral("file_size"), 21},
                      {QStringLiteral("type"), type},
                      {QStringLiteral("timestamp"), 1000}};
        if (withHistoryId)
            e[QStringLiteral("history_id")] = 77;
        if (key == KeyHash::Current)
            e[QStringLiteral("key_hash")] = keyHash();
        else if (key == KeyHash::Other)
            e[QStringLiteral("key_hash")] = makePair(QStringLiteral("9999")).keyHash();
        if (content == Content::Plain)
            e[QStringLiteral("content")] = kText;
        else if (content == Content::Encrypted)
            e[QStringLiteral("content")] = encrypt(kText);
        else if (content == Content::Garbage)
            e[QStringLiteral("content")] = QString::fromLatin1(QByteArray(80, 'x').toBase64());
        return e;
    }

    static ServerClip checked(const QJsonObject& e)
    {
        auto clip = ServerClip::fromJson(e);
        EXPECT_TRUE(clip.has_value());
        return clip.value_or(ServerClip{});
    }
};

// What each road makes of a new clip: the row's content, or no row at all.
struct RoadCase {
    const char* name;
    const char* type;
    int keyHash;  // ServerClipRoads::KeyHash
    int content;  // ServerClipRoads::Content
    // nullopt: no row; a row holding no content is "(none)".
    std::optional<const char*> pull;
    std::optional<const char*> fetch;
};

constexpr const char* kWords = "words from the laptop";
constexpr const char* kNone = "(none)";

}  // namespace

TEST_F(ServerClipRoads, TheRoadsDifferOnlyInWhatDecidesThatAClipNeedsTheKey)
{
    using K = KeyHash;
    using C = Content;
    const RoadCase cases[] = {
        {"plain type, no key hash", "text_txt", int(K::None), int(C::Plain), kWords, kWords},
        {"plain type, no content", "text_txt", int(K::None), int(C::Absent), std::nullopt, kNone},
        // The pull goes by the key hash, the fetch by the type.
        {"plain type with a key hash", "text_txt", int(K::Current), int(C::Plain), std::nullopt, kWords},
        {"enc type of the current key", "text_txt+enc", int(K::Current), int(C::Encrypted), kWords, kWords},
        {"enc type of another key", "text_txt+enc", int(K::Other), int(C::Encrypted), std::nullopt, std::nullopt},
        {"enc type without a key hash", "text_txt+enc", int(K::None), int(C::Encrypted), std::nullopt,
         std::nullopt},
        {"enc type that does not open", "image_data+enc", int(K::Current), int(C::Garbage), std::nullopt,
         std::nullopt},
    };
    for (const RoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ServerClip clip =
            checked(element(QString::fromLatin1(c.type), KeyHash(c.keyHash), Content(c.content)));
        const std::pair<ServerClipRoad, std::optional<const char*>> roads[] = {{ServerClipRoad::Pull, c.pull},
                                                                              {ServerClipRoad::Fetch, c.fetch}};
        for (const auto& [road, expected] : roads) {
            SCOPED_TRACE(road == ServerClipRoad::Pull ? "pull" : "fetch");
            bool keyMissing = false;
            const HistoryModelPtr row = ServerClipStore(road).newRow(clip, &keyMissing);
            EXPECT_FALSE(keyMissing);
            ASSERT_EQ(row != nullptr, expected.has_value());
            if (!row)
                continue;
            EXPECT_EQ(row->content().value_or(QString::fromLatin1(kNone)), QString::fromLatin1(*expected));
            EXPECT_EQ(row->file_hash(), md5HexOfString(kText));
            EXPECT_EQ(row->history_id().toLongLong(), 77);
            EXPECT_EQ(row->file_id().toLongLong(), 1077);
            // A clip that came under a key is kept encrypted here, whatever the service's type says.
            const QString type = QString::fromLatin1(c.type);
            EXPECT_EQ(row->type(), KeyHash(c.keyHash) == K::None || type.endsWith(QStringLiteral("+enc"))
                                       ? type
                                       : type + QStringLiteral("+enc"));
            // Only the fetch reply's size is kept.
            EXPECT_EQ(row->file_size().toLongLong(), road == ServerClipRoad::Fetch ? 21 : 0);
        }
    }
}

TEST_F(ServerClipRoads, WithoutAKeyOrAHistoryIdNeitherRoadMakesARow)
{
    for (const ServerClipRoad road : {ServerClipRoad::Pull, ServerClipRoad::Fetch}) {
        bool keyMissing = false;
        EXPECT_FALSE(ServerClipStore(road).newRow(
            checked(element(QStringLiteral("text_txt"), KeyHash::None, Content::Plain, false)), &keyMissing));
        EXPECT_FALSE(keyMissing);
    }

    const ServerClip encrypted = checked(element(QStringLiteral("text_txt+enc"), KeyHash::Current, Content::Encrypted));
    const ServerClip plain = checked(element(QStringLiteral("text_txt"), KeyHash::None, Content::Plain));
    zm().cleanKeyDatas();
    drainMainQueue();
    for (const ServerClipRoad road : {ServerClipRoad::Pull, ServerClipRoad::Fetch}) {
        SCOPED_TRACE(road == ServerClipRoad::Pull ? "pull" : "fetch");
        const ServerClipStore store(road);
        bool keyMissing = false;
        EXPECT_FALSE(store.newRow(encrypted, &keyMissing));
        EXPECT_TRUE(keyMissing);
        keyMissing = false;
        const HistoryModelPtr row = store.newRow(plain, &keyMissing);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->content(), kText);
        EXPECT_FALSE(keyMissing);
    }
}

TEST_F(ServerClipRoads, AStoredRowTakesOnlyTheServersStateAndANewOneComesWithItsBody)
{
    const auto mine = addTextClip(QStringLiteral("mine"), 500);
    QJsonObject known = element(QStringLiteral("text_txt+enc"), KeyHash::Current, Content::Encrypted);
    known[QStringLiteral("file_hash")] = *mine->file_hash();
    known[QStringLiteral("history_id")] = 31;
    known[QStringLiteral("timestamp")] = 400;
    const ServerClip fresh = checked(element(QStringLiteral("text_txt+enc"), KeyHash::Current, Content::Encrypted));

    for (const ServerClipRoad road : {ServerClipRoad::Pull, ServerClipRoad::Fetch}) {
        SCOPED_TRACE(road == ServerClipRoad::Pull ? "pull" : "fetch");
        if (const auto previous = rowOf(fresh.fileHash)) {
            DBKeeper::deleteClipItem(previous->file_hash());
            ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({previous});
        }
        const ServerClipStore store(road);
        const ServerClip stored = checked(known);
        // A row made for the stored clip too (as if the capture came meanwhile): the stored
        // row wins and keeps its content.
        std::vector<ServerClipArrival> arrivals{{stored, store.newRow(stored)}, {fresh, store.newRow(fresh)}};
        ASSERT_TRUE(arrivals[1].row);

        // Nothing at all for a login that has ended.
        EXPECT_FALSE(store.write(arrivals, ReplyLogin::current() + 1));
        EXPECT_FALSE(rowOf(fresh.fileHash));
        EXPECT_FALSE(QFile::exists(bodyPath(fresh.fileHash)));
        EXPECT_FALSE(arrivals[1].inserted);

        ASSERT_TRUE(store.write(arrivals, ReplyLogin::current()));
        EXPECT_FALSE(arrivals[0].inserted);
        const auto kept = rowOf(*mine->file_hash());
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->content(), QStringLiteral("mine"));
        EXPECT_EQ(kept->history_id().toLongLong(), 31);
        EXPECT_EQ(kept->timestamp().toLongLong(), 500);

        EXPECT_TRUE(arrivals[1].inserted);
        EXPECT_TRUE(arrivals[1].bodyWritten);
        const auto added = rowOf(fresh.fileHash);
        ASSERT_TRUE(added);
        EXPECT_EQ(added->content(), kText);
        EXPECT_EQ(added->local_file_ok().toInt(), 1);
        EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(fresh.fileHash), kText);
    }
}

TEST_F(ServerClipRoads, AnUndoneWriteLeavesNoBodyItAddedAndKeepsTheOnesThatWereThere)
{
    const ServerClip fresh = checked(element(QStringLiteral("text_txt+enc"), KeyHash::Current, Content::Encrypted));
    {
        // Every new row is refused, so the write's one change is undone.
        RawDb raw(dbPath());
        ASSERT_TRUE(raw.exec(QStringLiteral("create trigger refuse_rows before insert on History "
                                            "begin select raise(abort, 'refused'); end")));
    }
    for (const ServerClipRoad road : {ServerClipRoad::Pull, ServerClipRoad::Fetch}) {
        SCOPED_TRACE(road == ServerClipRoad::Pull ? "pull" : "fetch");
        QFile::remove(bodyPath(fresh.fileHash));
        const ServerClipStore store(road);
        std::vector<ServerClipArrival> arrivals{{fresh, store.newRow(fresh)}};
        ASSERT_TRUE(arrivals[0].row);
        EXPECT_FALSE(store.write(arrivals, ReplyLogin::current()));
        EXPECT_FALSE(rowOf(fresh.fileHash));
        EXPECT_FALSE(QFile::exists(bodyPath(fresh.fileHash))) << "the body went with the undone row";
        EXPECT_FALSE(arrivals[0].bodyWritten);

        // A body that was there before the write is not the write's to take away.
        ClipFileManager::sharedInstance().saveString(kText, fresh.fileHash);
        EXPECT_FALSE(store.write(arrivals, ReplyLogin::current()));
        EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(fresh.fileHash), kText);
    }
}
