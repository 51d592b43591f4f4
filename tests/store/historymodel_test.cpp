#include "historytestsupport.h"

#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "store/pathhelper.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace historytest;

namespace {

HistoryModelPtr fetched(const QString& hash, const QString& category = QStringLiteral("history"))
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(category);
    clip->fetch();
    return clip;
}

void touchBody(const QString& hash)
{
    QFile f(PathHelper::getBaseFilePath(hash));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("body");
}

}  // namespace

class ClipRecord : public HistoryDbTest {};

TEST_F(ClipRecord, NewRecordSavedReadsBackWithItsDefaults)
{
    auto clip = std::make_shared<HistoryModel>();
    EXPECT_FALSE(clip->content());
    EXPECT_FALSE(clip->timestamp().isValid());
    EXPECT_FALSE(clip->history_id().isValid());
    EXPECT_EQ(clip->file_size().typeId(), QMetaType::Double);
    clip->setContent(QStringLiteral("hello"));
    clip->setFile_hash(hashOf(1));
    clip->setTimestamp(QVariant(qint64(1700000000)));
    clip->save();

    const auto back = fetched(hashOf(1));
    EXPECT_EQ(back->content(), "hello");
    EXPECT_EQ(back->timestamp().toLongLong(), 1700000000);
    for (const QVariant& zero : {back->history_id(), back->file_id(), back->file_ready(), back->change_timestamp(),
                                 back->favourite()}) {
        EXPECT_TRUE(zero.isValid());
        EXPECT_EQ(zero.toLongLong(), 0);
    }
    EXPECT_EQ(back->secert().typeId(), QMetaType::Bool);
    EXPECT_FALSE(back->secert().toBool());
    EXPECT_EQ(back->category(), "history");
    EXPECT_EQ(back->type(), "text_txt");
    EXPECT_EQ(back->file_size().typeId(), QMetaType::Double);
    EXPECT_EQ(back->file_size().toDouble(), 0.0);
    EXPECT_EQ(back->device_name(), hostDeviceName());
    EXPECT_FALSE(back->key_hash());
    EXPECT_FALSE(back->file_name());

    // Numbers are stored in the kind they were made in.
    RawDb raw(dbPath());
    EXPECT_EQ(raw.rows("select typeof(favourite), typeof(secert), typeof(file_size), typeof(local_file_ok) "
                       "from History"),
              (std::vector<QVariantList>{{"integer", "integer", "real", "integer"}}));
}

TEST_F(ClipRecord, SavingOntoAnExistingRowKeepsItsPendingMarkSecretFlagAndCategory)
{
    auto first = savedClip(1);
    first->setSecert(true);
    first->setChange_timestamp(QVariant(qint64(50)));
    {
        RawDb raw(dbPath());
        raw.exec("update History set change_timestamp = 50, secert = 1");
    }
    auto again = std::make_shared<HistoryModel>();
    again->setContent(QStringLiteral("changed"));
    again->setFile_hash(hashOf(1));
    again->setTimestamp(QVariant(2000));
    // The update writes every other column: a record from elsewhere carries them all.
    again->setHistory_id(QVariant(0));
    again->setFile_id(QVariant(0));
    again->setChange_timestamp(QVariant(999));
    again->setSecert(false);
    again->setFavourite(QVariant(qint64(42)));
    again->save();

    RawDb raw(dbPath());
    EXPECT_EQ(raw.rows("select content, timeStamp, change_timestamp, secert, category, favourite from History"),
              (std::vector<QVariantList>{{"changed", 2000.0, 50, 1, "history", 42}}));
}

TEST_F(ClipRecord, SavesThatCannotBeStoredAreLogged)
{
    LogCapture log;
    auto noContent = std::make_shared<HistoryModel>();
    noContent->setFile_hash(hashOf(1));
    noContent->save();
    EXPECT_FALSE(noContent->isExist());
    EXPECT_TRUE(log.hasMessage("error"));

    savedClip(2);
    auto update = std::make_shared<HistoryModel>();
    update->setFile_hash(hashOf(2));
    update->save();  // the row exists; its content stays
    EXPECT_EQ(fetched(hashOf(2))->content(), "clip 2");
    EXPECT_TRUE(log.contains("was not updated"));
}

TEST_F(ClipRecord, AbsentDeviceNameIsStoredAndSentAsEmptyText)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("x"));
    clip->setFile_hash(hashOf(1));
    clip->setDevice_name(std::nullopt);
    EXPECT_EQ(clip->device_name(), "");
    clip->save();
    RawDb raw(dbPath());
    const QVariant stored = raw.scalar("select deviceName from History");
    EXPECT_FALSE(stored.isNull());
    EXPECT_EQ(stored.toString(), "");
    EXPECT_EQ(clip->toDictionary().value("device_name").toString(), "");
    EXPECT_TRUE(clip->toDictionary().contains("device_name"));
    EXPECT_EQ(clip->copy()->device_name(), "");
}

TEST_F(ClipRecord, LocalFileOkTellsWhetherTheBodyIsOnDiskNow)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("x"));
    clip->setFile_hash(hashOf(1));
    clip->setTimestamp(QVariant(1));
    clip->setHistory_id(QVariant(0));
    clip->setFile_id(QVariant(0));
    clip->setLocal_file_ok(QVariant(1));
    EXPECT_FALSE(clip->local_file_ok().toBool());
    clip->save();
    RawDb raw(dbPath());
    EXPECT_EQ(raw.scalar("select local_file_ok from History").toInt(), 0);

    touchBody(hashOf(1));
    clip->setLocal_file_ok(QVariant(0));
    EXPECT_TRUE(clip->local_file_ok().toBool());
    clip->save();
    EXPECT_EQ(raw.scalar("select local_file_ok from History").toInt(), 1);

    // A hash that is not one can never name a body, even where a file of that name exists.
    QFile(PathHelper::getBaseAppLibraryPath("x")).open(QIODevice::WriteOnly);
    clip->setFile_hash(QStringLiteral("../x"));
    EXPECT_FALSE(clip->local_file_ok().toBool());
}

TEST_F(ClipRecord, NumbersReadBackAsTheirWholePartsAndIdsKeepSixtyFourBits)
{
    const qint64 big = (qint64(1) << 40) + 3;
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("x"));
    clip->setFile_hash(hashOf(1));
    clip->setTimestamp(QVariant(1234.9));
    clip->setHistory_id(QVariant(big));
    clip->setFile_id(QVariant(big + 1));
    clip->setChange_timestamp(QVariant(double(qint64(1) << 33) + 0.5));
    clip->setFavourite(QVariant(-big));
    clip->setFile_size(QVariant(2.5));
    clip->save();

    const auto back = fetched(hashOf(1));
    EXPECT_EQ(back->timestamp().typeId(), QMetaType::LongLong);
    EXPECT_EQ(back->timestamp().toLongLong(), 1234);
    EXPECT_EQ(back->history_id().toLongLong(), big);
    EXPECT_EQ(back->file_id().toLongLong(), big + 1);
    EXPECT_EQ(back->change_timestamp().toDouble(), double(qint64(1) << 33) + 0.5) << "the mark as stored";
    EXPECT_EQ(back->favourite().toLongLong(), -big);
    EXPECT_EQ(back->file_size().toDouble(), 2.5);

    auto negative = savedClip(2, "history", 0);
    RawDb(dbPath()).exec("update History set timeStamp = -5.5 where file_hash = ?", {hashOf(2)});
    EXPECT_EQ(fetched(hashOf(2))->timestamp().toLongLong(), -5);
}

TEST_F(ClipRecord, FetchTakesTheRowButKeepsAStampTheRecordHolds)
{
    savedClip(1);
    RawDb raw(dbPath());
    raw.exec("update History set change_timestamp = 77, content = 'row'");

    auto holding = std::make_shared<HistoryModel>();
    holding->setFile_hash(hashOf(1));
    holding->setChange_timestamp(QVariant(12.8));
    holding->fetch();
    EXPECT_EQ(holding->content(), "row");
    EXPECT_EQ(holding->change_timestamp().toLongLong(), 12);
    EXPECT_NE(holding->change_timestamp().typeId(), QMetaType::Double);

    EXPECT_EQ(fetched(hashOf(1))->change_timestamp().toLongLong(), 77);

    auto missing = std::make_shared<HistoryModel>();
    missing->setFile_hash(hashOf(9));
    missing->setContent(QStringLiteral("mine"));
    missing->fetch();
    EXPECT_EQ(missing->content(), "mine");
    EXPECT_EQ(missing->type(), "text_txt");
}

TEST_F(ClipRecord, PendingChangeIsClearedOnlyWhenItIsTheOneThatWasRead)
{
    auto clip = savedClip(1);
    const double before = unixTimeNowNumber();
    clip->increase_change_count();
    EXPECT_EQ(clip->change_timestamp().typeId(), QMetaType::Double);
    EXPECT_GE(clip->change_timestamp().toDouble(), before);
    RawDb raw(dbPath());
    EXPECT_DOUBLE_EQ(raw.scalar("select change_timestamp from History").toDouble(), clip->change_timestamp().toDouble());

    struct Case {
        double row;
        double record;
        bool cleared;
    } cases[] = {
        {1000.7, 1000.7, true},
        {1000.0, 1000.0, true},
        {1000.7, 1000.2, false},  // changed again in the same second
        {1001.1, 1000.9, false},  // changed again in a later second
        {999.0, 1000.0, false},
    };
    for (const Case& c : cases) {
        raw.exec("update History set change_timestamp = ?", {c.row});
        auto read = std::make_shared<HistoryModel>();
        read->setFile_hash(hashOf(1));
        read->setChange_timestamp(QVariant(c.record));
        read->return_to_zero_change_count();
        EXPECT_EQ(raw.scalar("select change_timestamp from History").toDouble() == 0.0, c.cleared)
            << c.row << " vs " << c.record;
    }
    // A record read from the row holds its mark exactly: it clears that mark, and not one set
    // later in the same second.
    raw.exec("update History set change_timestamp = ?", {1000.25});
    const auto sent = fetched(hashOf(1));
    raw.exec("update History set change_timestamp = ?", {1000.75});
    sent->return_to_zero_change_count();
    EXPECT_EQ(raw.scalar("select change_timestamp from History").toDouble(), 1000.75);
    fetched(hashOf(1))->return_to_zero_change_count();
    EXPECT_EQ(raw.scalar("select change_timestamp from History").toDouble(), 0.0);

    // No row: nothing to clear, nothing made.
    auto none = std::make_shared<HistoryModel>();
    none->setFile_hash(hashOf(5));
    none->return_to_zero_change_count();
    EXPECT_FALSE(none->isExist());
}

TEST_F(ClipRecord, ExistenceDeleteAndSecretFlagWorkOnTheirRows)
{
    savedClip(1, "history");
    savedClip(1, "favourite");
    savedClip(2, "history");
    RawDb raw(dbPath());
    raw.exec("update History set secert = 1");

    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hashOf(1));
    clip->setSecert(true);
    clip->signSecert(false);
    EXPECT_TRUE(clip->secert().toBool());  // the record's own flag is not touched
    EXPECT_EQ(raw.rows("select file_hash, secert from History order by file_hash, category"),
              (std::vector<QVariantList>{{hashOf(1), 0}, {hashOf(1), 0}, {hashOf(2), 1}}));

    EXPECT_TRUE(clip->isExist());
    clip->setCategory(QStringLiteral("favourite"));
    clip->del();
    EXPECT_FALSE(clip->isExist());
    clip->setCategory(QStringLiteral("history"));
    EXPECT_TRUE(clip->isExist());
}

TEST_F(ClipRecord, FileHashWithQuotesIsBoundNotSpliced)
{
    const QString hash = QStringLiteral("a'b\"c; drop table History; --");
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("x"));
    clip->setFile_hash(hash);
    clip->save();
    EXPECT_TRUE(clip->isExist());
    EXPECT_EQ(fetched(hash)->content(), "x");
    clip->del();
    EXPECT_FALSE(clip->isExist());
    RawDb raw(dbPath());
    EXPECT_TRUE(raw.columns().contains("file_hash"));
}

TEST_F(ClipRecord, EncryptedFileNameIsTheDigestOfHashAndKey)
{
    HistoryModel clip;
    clip.setFile_hash(hashOf(1));
    EXPECT_FALSE(clip.encryptFileName());
    clip.setKey_hash(QStringLiteral("K1"));
    EXPECT_EQ(clip.encryptFileName(), md5HexOfString(hashOf(1) + "+K1"));
    EXPECT_EQ(clip.encryptFileNameWithKeyHash(QStringLiteral("K2")), md5HexOfString(hashOf(1) + "+K2"));
    EXPECT_FALSE(clip.encryptFileNameWithKeyHash(std::nullopt));
}

TEST_F(ClipRecord, JsonFormHasElevenKeysAndIgnoresTheLocalFive)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("c"));
    clip->setTimestamp(QVariant(1.5));
    clip->setFile_hash(hashOf(1));
    clip->setHistory_id(QVariant(qint64(1) << 40));
    clip->setFile_id(QVariant(3));
    clip->setFile_ready(QVariant(1));
    clip->setFile_name(QStringLiteral("a.txt"));
    clip->setFavourite(QVariant(qint64(-7)));
    clip->setKey_hash(QStringLiteral("k"));
    clip->setChange_timestamp(QVariant(5));
    clip->setSecert(true);
    clip->setCategory(QStringLiteral("favourite"));
    clip->setFile_size(QVariant(10.0));

    const QJsonObject json = clip->toDictionary();
    QStringList keys = json.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"content", "device_name", "favourite", "file_hash", "file_id", "file_name",
                                 "file_ready", "history_id", "key_hash", "timestamp", "type"}));
    EXPECT_EQ(json.value("history_id").toVariant().toLongLong(), qint64(1) << 40);
    EXPECT_EQ(json.value("timestamp").toDouble(), 1.5);
    EXPECT_EQ(json.value("favourite").toInteger(), -7);

    // Unset fields are left out.
    HistoryModel bare;
    bare.setType(std::nullopt);
    QStringList bareKeys = bare.toDictionary().keys();
    bareKeys.sort();
    EXPECT_EQ(bareKeys, (QStringList{"device_name", "favourite", "file_ready"}));

    // Reading: the local five never come from outside; missing keys keep the defaults.
    QJsonObject in = json;
    in.insert("secert", 1);
    in.insert("category", "favourite");
    in.insert("file_size", 99);
    in.insert("change_timestamp", 5);
    in.insert("local_file_ok", 1);
    in.remove("type");
    const auto read = HistoryModel::initWithDictionary(in);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->category(), "history");
    EXPECT_FALSE(read->secert().toBool());
    EXPECT_EQ(read->file_size().toDouble(), 0.0);
    EXPECT_FALSE(read->change_timestamp().isValid());
    EXPECT_EQ(read->type(), "text_txt");
    EXPECT_EQ(read->history_id().toLongLong(), qint64(1) << 40);
    EXPECT_EQ(read->timestamp().typeId(), QMetaType::Double);
    EXPECT_EQ(read->file_id().typeId(), QMetaType::LongLong);
    EXPECT_EQ(read->toDictionary(), json);
}

TEST_F(ClipRecord, JsonValuesOfTheWrongKind)
{
    struct Case {
        const char* json;
        bool valid;
    } cases[] = {
        {R"({"history_id": "123", "content": 5})", true},  // numeric text and a number for text
        {R"({"history_id": null, "key_hash": null})", true},
        {R"({"file_hash": ["x"]})", false},
        {R"({"history_id": "abc"})", false},
        {R"({"timestamp": {"a": 1}})", false},
        {R"({"content": true})", false},
    };
    for (const Case& c : cases) {
        QString error;
        const auto clip = HistoryModel::initWithDictionary(QJsonDocument::fromJson(c.json).object(), &error);
        EXPECT_EQ(bool(clip), c.valid) << c.json;
        EXPECT_EQ(error.isEmpty(), c.valid) << c.json;
    }
    const auto clip = HistoryModel::initWithDictionary(QJsonDocument::fromJson(R"({"history_id": "123", "content": 5})").object());
    EXPECT_EQ(clip->history_id().typeId(), QMetaType::LongLong);
    EXPECT_EQ(clip->history_id().toLongLong(), 123);
    EXPECT_EQ(clip->content(), "5");
}

TEST_F(ClipRecord, CopyEqualsTheSourceFieldByField)
{
    auto source = std::make_shared<HistoryModel>();
    source->setContent(QStringLiteral("c"));
    source->setFile_hash(hashOf(1));
    source->setDevice_name(std::nullopt);
    source->setHistory_id(QVariant(9));
    source->setKey_hash(QStringLiteral("k"));
    source->setChange_timestamp(QVariant(3.5));
    touchBody(hashOf(1));

    const auto copy = source->copy();
    EXPECT_NE(copy.get(), source.get());
    EXPECT_EQ(copy->content(), source->content());
    EXPECT_EQ(copy->timestamp(), source->timestamp());
    EXPECT_EQ(copy->device_name(), "");
    EXPECT_EQ(copy->file_hash(), source->file_hash());
    EXPECT_EQ(copy->type(), source->type());
    EXPECT_EQ(copy->history_id(), source->history_id());
    EXPECT_EQ(copy->file_id(), source->file_id());
    EXPECT_EQ(copy->file_ready(), source->file_ready());
    EXPECT_EQ(copy->change_timestamp(), source->change_timestamp());
    EXPECT_EQ(copy->local_file_ok(), QVariant(true));
    EXPECT_EQ(copy->file_size(), source->file_size());
    EXPECT_EQ(copy->file_name(), source->file_name());
    EXPECT_EQ(copy->secert(), source->secert());
    EXPECT_EQ(copy->category(), source->category());
    EXPECT_EQ(copy->favourite(), source->favourite());
    EXPECT_EQ(copy->key_hash(), source->key_hash());
    EXPECT_EQ(copy->toDictionary(), source->toDictionary());
}
