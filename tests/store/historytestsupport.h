#pragma once

// Shared pieces of the history database tests: a fixture that gives each test a database
// opened afresh under its own home, raw access to the file through a second connection, and
// a log sink to read what the store logged.

#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace historytest {

inline QString libraryDir()
{
    return testenv::home() + QStringLiteral("/Library/Nuvarel");
}

inline QString dbPath()
{
    return libraryDir() + QStringLiteral("/clipDB.sqlite");
}

// A second connection to a database file, on the calling thread, for making fixtures and
// checking what the store wrote.
class RawDb {
public:
    explicit RawDb(const QString& path)
        : m_name(QStringLiteral("raw-%1").arg(++counter()))
    {
        QDir().mkpath(QFileInfo(path).path());
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        EXPECT_TRUE(m_db.open()) << m_db.lastError().text().toStdString();
    }
    ~RawDb()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool exec(const QString& sql, const QVariantList& args = {})
    {
        QSqlQuery q(m_db);
        if (!q.prepare(sql)) {
            m_lastError = q.lastError().text();
            return false;
        }
        for (const QVariant& a : args)
            q.addBindValue(a);
        const bool ok = q.exec();
        m_lastError = q.lastError().text();
        return ok;
    }
    // Every row of the query, each as its column values.
    std::vector<QVariantList> rows(const QString& sql, const QVariantList& args = {})
    {
        std::vector<QVariantList> out;
        QSqlQuery q(m_db);
        q.prepare(sql);
        for (const QVariant& a : args)
            q.addBindValue(a);
        if (!q.exec()) {
            m_lastError = q.lastError().text();
            return out;
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out.push_back(row);
        }
        return out;
    }
    QVariant scalar(const QString& sql, const QVariantList& args = {})
    {
        const auto r = rows(sql, args);
        return r.empty() || r.front().isEmpty() ? QVariant() : r.front().front();
    }
    QStringList columns(const QString& table = QStringLiteral("History"))
    {
        QStringList names;
        for (const auto& row : rows(QStringLiteral("pragma table_info(%1)").arg(table)))
            names << row.at(1).toString();
        return names;
    }
    bool hasUniqueIndex()
    {
        return scalar(QStringLiteral("select count(*) from sqlite_master where type = 'index' and name = "
                                     "'History_file_hash_category' and sql like '%UNIQUE%'"))
                   .toInt()
            == 1;
    }
    const QString& lastError() const { return m_lastError; }
    QSqlDatabase& db() { return m_db; }

private:
    static std::atomic<int>& counter()
    {
        static std::atomic<int> n{0};
        return n;
    }
    QString m_name;
    QSqlDatabase m_db;
    QString m_lastError;
};

// What the store logs while the sink is attached.
class LogCapture {
public:
    LogCapture()
        : m_sink(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256))
    {
        spdlog::default_logger()->sinks().push_back(m_sink);
        m_oldLevel = spdlog::default_logger()->level();
        spdlog::default_logger()->set_level(spdlog::level::info);
    }
    ~LogCapture()
    {
        auto& sinks = spdlog::default_logger()->sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), m_sink), sinks.end());
        spdlog::default_logger()->set_level(m_oldLevel);
    }
    QStringList lines() const
    {
        QStringList out;
        for (const std::string& s : m_sink->last_formatted())
            out << QString::fromStdString(s).trimmed();
        return out;
    }
    // A line whose message is exactly the text (the formatter puts time and level before it).
    bool hasMessage(const QString& message) const
    {
        for (const QString& line : lines())
            if (line.endsWith(QStringLiteral("] ") + message))
                return true;
        return false;
    }
    bool contains(const QString& part) const
    {
        for (const QString& line : lines())
            if (line.contains(part))
                return true;
        return false;
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_sink;
    spdlog::level::level_enum m_oldLevel;
};

// Each test opens the database afresh under its own home, and closes it before the home goes.
class HistoryDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DBFetcher::resetSharedInstance();
        // The account state of this test's settings store, not of the test before.
        ConfigureManager::sharedInstance().resetForTests();
    }
    void TearDown() override { DBFetcher::resetSharedInstance(); }
};

inline QString hashOf(int n)
{
    return QStringLiteral("%1").arg(n, 32, 16, QLatin1Char('0'));
}

// A clip of the given hash number, category and time, saved.
inline HistoryModelPtr savedClip(int n, const QString& category = QStringLiteral("history"), qint64 time = 1000,
                                 const QString& type = QStringLiteral("text_txt"))
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setContent(QStringLiteral("clip %1").arg(n));
    clip->setFile_hash(hashOf(n));
    clip->setCategory(category);
    clip->setTimestamp(QVariant(time));
    clip->setType(type);
    clip->save();
    return clip;
}

inline QStringList hashesOf(const HistoryList& list)
{
    QStringList out;
    for (const auto& clip : list)
        out << clip->file_hash().value_or(QString());
    return out;
}

}  // namespace historytest
