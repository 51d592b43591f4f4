#pragma once

// Shared pieces of the sync tests: a fresh database, an in-memory keychain, user "42"
// logged in with a real key installed, and helpers to make clip rows with real body files.

#include "service/keyfixture.h"

#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "sync/historyservice.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// Every stored row of the hash in the category; null when there is none.
inline HistoryModelPtr rowOf(const QString& hash, const QString& category = QString(ClipCategory::History))
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(category);
    if (!clip->isExist())
        return nullptr;
    clip->fetch();
    return clip;
}

inline qint64 countRows(RawDb& raw, const QString& where = QStringLiteral("1"))
{
    return raw.scalar(QStringLiteral("select count(*) from History where ") + where).toLongLong();
}

inline QByteArray json(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

class SyncTest : public KeyTest {
protected:
    void SetUp() override
    {
        KeyTest::SetUp();
        HistoryService::sharedInstance().resetForTesting();
        install(pair, kPin);
    }
    void TearDown() override
    {
        HistoryService::sharedInstance().resetForTesting();
        KeyTest::TearDown();
    }

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

}  // namespace synctest
