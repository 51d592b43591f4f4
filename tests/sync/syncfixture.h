#pragma once

// Shared pieces of the sync tests: a fresh database, an in-memory keychain, user "42"
// logged in with a real key installed, and helpers to make clip rows with real body files.

#include "service/keyfixture.h"

#include "platform/dispatch.h"
#include "platform/userdefaults.h"
#include "service/requestmanager.h"
#include "store/defaultskeys.h"
#include "support/manualtimers.h"
#include "support/storedrow.h"
#include "support/webservice/webservicedouble.h"
#include "sync/pushclipsmanager.h"

#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "sync/catchupmanager.h"
#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/historyservice.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <span>

namespace synctest {

using namespace keytest;
using namespace historytest;

inline const QString kPin = QStringLiteral("2468");

inline QString bodyPath(const QString& hash)
{
    return libraryDir() + QStringLiteral("/files/") + hash;
}

// A history row of a text clip with its body file; the hash is the text's MD5.
inline HistoryModelPtr addTextClip(const QString& text, qint64 timestamp, qint64 historyId = 0,
                                   const QString& category = QString(ClipCategory::History))
{
    auto clip = std::make_shared<HistoryModel>();
    const QString hash = md5HexOfString(text);
    clip->setContent(text);
    clip->setFile_hash(hash);
    clip->setTimestamp(QVariant(timestamp));
    clip->setType(QStringLiteral("text_txt+enc"));
    clip->setHistory_id(QVariant(historyId));
    clip->setFile_id(QVariant(historyId == 0 ? 0 : historyId + 1000));
    clip->setFile_ready(QVariant(historyId == 0 ? 0 : 1));
    clip->setCategory(category);
    ClipFileManager::sharedInstance().saveString(text, hash);
    clip->save();
    return clip;
}

// The service was seen holding the rows of the hash at its own time (as a pull records it).
inline void seenByServiceAt(const QString& hash, qint64 serverTime)
{
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("update History set server_time = ? where file_hash = ?"),
                                 {QVariant(serverTime), hash});
    });
}

using testrows::rowOf;

// One of the oldest clips a clean-up looks at: its server id (0: none), an assignment that puts
// its row in some state ("": as stored), and whether the clean-up keeps it.
struct OldClip {
    const char* name;
    qint64 historyId;
    const char* rowState;
    bool kept;
};

// Stores the old clips in the category, the first at time 10 and each a second later.
inline void addOldClips(std::span<const OldClip> clips, const QString& category)
{
    int n = 0;
    for (const OldClip& old : clips) {
        const auto clip = addTextClip(QString::fromLatin1(old.name), 10 + n++, old.historyId, category);
        if (*old.rowState)
            RawDb(dbPath()).exec(QStringLiteral("update History set %1 where file_hash = ?").arg(QLatin1String(old.rowState)),
                                 {*clip->file_hash()});
    }
}

inline qint64 countRows(RawDb& raw, const QString& where = QStringLiteral("1"))
{
    return raw.scalar(QStringLiteral("select count(*) from History where ") + where).toLongLong();
}

inline QByteArray json(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// What a push operation's callback received.
struct PushResult {
    bool called = false;
    bool onMain = false;
    QVariant result;
    std::optional<RequestError> error;
};

inline PushClipsManager::Callback record(std::shared_ptr<PushResult> out)
{
    return [out](const QVariant& result, const std::optional<RequestError>& error) {
        out->called = true;
        out->onMain = dispatch::isMainThread();
        out->result = result;
        out->error = error;
    };
}

// The test double on loopback with an account logged in as the app would have it, a real key
// installed for that account, and a fresh database.
class SyncTest : public KeyTest {
protected:
    void SetUp() override
    {
        KeyTest::SetUp();
        // The workers' retries wait for the test's clock, never for real time.
        UploadWorker::setTimerSourceForTesting(timers);
        HistoryService::sharedInstance().resetForTesting();
        ASSERT_TRUE(server.start());
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
        userId = server.addAccount(kEmail, QStringLiteral("pw"));
        token = server.issueToken(kEmail);
        ConfigureManager& account = ConfigureManager::sharedInstance();
        account.setLoginUserId(QString::number(userId));
        account.setLoginUserToken(token);
        drainMainQueue();
        install(pair, kPin);
    }
    void TearDown() override
    {
        // Nothing of this test may still be on its way when the next one starts.
        EXPECT_TRUE(testenv::waitUntil([] {
            return !HistoryService::sharedInstance().isRunning() && !CatchUpManager::sharedInstance().isPulling();
        }));
        server.stop();
        HistoryService::sharedInstance().resetForTesting();
        CatchUpManager::sharedInstance().resetForTesting();
        drainMainQueue();
        UploadWorker::setTimerSourceForTesting(nullptr);
        KeyTest::TearDown();
    }

    // Sends a request object and runs the main loop until its completion has run.
    struct Sent {
        bool called = false;
        QVariant result;
        int status = 0;
        std::optional<RequestError> error;
    };
    static Sent send(const std::shared_ptr<RequestManager>& request)
    {
        auto out = std::make_shared<Sent>();
        request->request([out](const QVariant& result, int status, const std::optional<RequestError>& error) {
            out->called = true;
            out->result = result;
            out->status = status;
            out->error = error;
        });
        EXPECT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(20)));
        return *out;
    }
    static PushResult wait(const std::shared_ptr<PushResult>& out)
    {
        EXPECT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(20)));
        return *out;
    }
    // The clips the server holds for the account.
    std::map<qint64, webdouble::ClipRoutes::StoredClip> serverClips()
    {
        auto lock = server.lock();
        return server.clipRoutes().state().accounts[userId].clips;
    }

    inline static const QString kEmail = QStringLiteral("user@example.com");
    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>();
    webdouble::WebServiceDouble server;
    qint64 userId = 0;
    QString token;

    QString keyHash() const { return pair.keyHash(); }
    // The server's fingerprint of the installed key.
    QJsonObject cipher() const
    {
        return {{QStringLiteral("key_hash"), pair.keyHash()}, {QStringLiteral("cipher_hash"), pair.cipherHash()}};
    }
    QString encrypt(const QString& text)
    {
        const auto enc = zm().encryptDataToBase64String(text);
        EXPECT_TRUE(enc.has_value());
        return enc ? enc->base64 : QString();
    }

    TestPair pair = makePair(kPin);
};

// Sync tests that drive the favourite and file workers: both start idle, and a test ends only
// once both are idle again.
class FavouriteWorkersTest : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        FavouriteService::sharedInstance().resetForTesting();
        FileService::sharedInstance().resetForTesting();
    }
    void TearDown() override
    {
        EXPECT_TRUE(testenv::waitUntil([] {
            return !FavouriteService::sharedInstance().isRunning() && !FileService::sharedInstance().isRunning();
        }));
        FavouriteService::sharedInstance().resetForTesting();
        FileService::sharedInstance().resetForTesting();
        SyncTest::TearDown();
    }
};

}  // namespace synctest
