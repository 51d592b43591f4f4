#include "store/dbfetcher.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "store/pathhelper.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QSqlError>
#include <QSqlRecord>

#include <spdlog/spdlog.h>

#include <cmath>
#include <limits>

namespace {

// SQLite's primary result codes that mean the file itself is unusable.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

QMutex g_sharedLock;
// Never destroyed at exit: Qt's connection registry may already be gone by then, and the
// application closes the database explicitly when it terminates.
DBFetcher* g_shared = nullptr;

std::atomic<quint64> g_connectionCounter{0};

int primaryCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

std::string text(const QString& s)
{
    return s.toStdString();
}

}  // namespace

DBFetcher& DBFetcher::sharedInstance()
{
    QMutexLocker lock(&g_sharedLock);
    if (!g_shared)
        g_shared = new DBFetcher(PathHelper::getBaseAppLibraryPath(QStringLiteral("clipDB.sqlite")));
    return *g_shared;
}

void DBFetcher::resetSharedInstance()
{
    QMutexLocker lock(&g_sharedLock);
    delete g_shared;
    g_shared = nullptr;
}

DBFetcher::DBFetcher(const QString& path)
    : m_path(path)
    , m_connectionName(QStringLiteral("nuvarel-history-%1").arg(++g_connectionCounter))
    , m_queue(std::make_unique<SerialQueue>(QStringLiteral("database")))
{
    // A connection may be used only by the thread that made it: the queue's.
    m_queue->sync([this] { openOnQueue(); });
}

DBFetcher::~DBFetcher()
{
    close();
}

void DBFetcher::openOnQueue()
{
    if (m_path.isEmpty()) {
        spdlog::error("db error: no path for the history database");
        return;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_path);
    if (!m_db.open()) {
        spdlog::error("db error: {}", text(m_db.lastError().text()));
        return;
    }
    bool broken = false;
    if (integrityCheckPassed(&broken)) {
        m_available = true;
        return;
    }
    if (!broken)
        return;  // kept as it is; unavailable for this run
    // Moved while still open: closing first would let SQLite check point and delete a -wal
    // file, and that may be what a recovery needs.
    const bool moved = moveBrokenFileAside();
    m_db.close();
    if (!moved)
        return;
    if (!m_db.open()) {
        spdlog::error("db error: {}", text(m_db.lastError().text()));
        return;
    }
    m_available = true;
}

bool DBFetcher::integrityCheckPassed(bool* broken)
{
    *broken = false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("pragma integrity_check;"))) {
        const QSqlError error = query.lastError();
        const int code = primaryCode(error);
        if (code == kSqliteNotADatabase || code == kSqliteCorrupt) {
            spdlog::error("history database {} is damaged: {}", text(m_path), text(error.text()));
            *broken = true;
        } else {
            // Busy, locked, I/O, memory, permissions: nothing says the file is bad, so keep it.
            spdlog::error("db error: history database {} cannot be read now (code {}): {}; "
                          "the history is unavailable until the next start",
                          text(m_path), code, text(error.text()));
        }
        return false;
    }
    if (!query.next()) {
        spdlog::error("db error: no answer from the integrity check of {}", text(m_path));
        return false;
    }
    const QString answer = query.value(0).toString();
    if (answer.toLower() == QLatin1String("ok"))
        return true;
    spdlog::error("history database {} failed its integrity check: {}", text(m_path), text(answer));
    *broken = true;
    return false;
}

bool DBFetcher::moveBrokenFileAside()
{
    const QString aside = m_path + QStringLiteral(".corrupt-%1").arg(QDateTime::currentSecsSinceEpoch());
    if (QFile::exists(aside)) {
        spdlog::error("db error: {} already exists; keeping the damaged history where it is", text(aside));
        return false;
    }
    if (!QFile::rename(m_path, aside)) {
        spdlog::error("db error: could not move the damaged history {} aside", text(m_path));
        return false;
    }
    // The journal belongs with its database.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const QString from = m_path + QLatin1String(suffix);
        if (QFile::exists(from) && !QFile::rename(from, aside + QLatin1String(suffix)))
            spdlog::warn("could not move {} aside", text(from));
    }
    spdlog::warn("damaged history database moved to {}; starting a new one", text(aside));
    return true;
}

void DBFetcher::inDatabase(const Block& block)
{
    if (m_queue->isCurrent())
        qFatal("nested database block: a database block must not start database work");
    m_queue->sync([this, &block] {
        if (m_available)
            block(m_db);
    });
}

void DBFetcher::prepareOnce(const Block& step)
{
    if (m_queue->isCurrent())
        qFatal("nested database block: a database block must not start database work");
    std::call_once(m_prepared, [this, &step] { inDatabase(step); });
}

void DBFetcher::close()
{
    if (m_queue->isCurrent())
        qFatal("nested database block: the database cannot be closed from inside a block");
    m_queue->sync([this] { closeOnQueue(); });
}

void DBFetcher::closeOnQueue()
{
    m_available = false;
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool DBFetcher::isOpen() const
{
    return m_available;
}

QSqlQuery DBFetcher::executeQuery(QSqlDatabase& db, const QString& sql, const QVariantList& args)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        spdlog::debug("sql prepare failed: {}: {}", text(sql), text(query.lastError().text()));
        return query;
    }
    for (const QVariant& arg : args)
        query.addBindValue(arg);
    if (!query.exec())
        spdlog::debug("sql failed: {}: {}", text(sql), text(query.lastError().text()));
    return query;
}

bool DBFetcher::executeUpdate(QSqlDatabase& db, const QString& sql, const QVariantList& args, QString* error)
{
    QSqlQuery query(db);
    bool ok = query.prepare(sql);
    if (ok) {
        for (const QVariant& arg : args)
            query.addBindValue(arg);
        ok = query.exec();
    }
    if (!ok) {
        spdlog::debug("sql failed: {}: {}", text(sql), text(query.lastError().text()));
        if (error)
            *error = query.lastError().text();
    }
    return ok;
}

std::optional<qint64> DBFetcher::longForQuery(QSqlDatabase& db, const QString& sql, const QVariantList& args)
{
    QSqlQuery query = executeQuery(db, sql, args);
    if (!query.isActive() || !query.next())
        return std::nullopt;
    return integerFromValue(query.value(0));
}

bool DBFetcher::tableExists(QSqlDatabase& db, const QString& table)
{
    const auto n = longForQuery(db, QStringLiteral("select count(*) from sqlite_master where type = 'table' "
                                                   "and lower(name) = lower(?)"),
                                {table});
    return n.value_or(0) > 0;
}

bool DBFetcher::columnExists(QSqlDatabase& db, const QString& column, const QString& table)
{
    // The table name cannot be bound; refuse anything but a plain identifier.
    for (QChar c : table)
        if (!(c.isLetterOrNumber() || c == u'_'))
            return false;
    QSqlQuery query = executeQuery(db, QStringLiteral("pragma table_info(%1)").arg(table));
    while (query.next())
        if (query.value(1).toString().compare(column, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

namespace {

// Index of a column by name, or -1 (which reads as NULL).
int indexOf(const QSqlQuery& rs, const QString& column)
{
    return rs.record().indexOf(column);
}

QVariant valueAt(const QSqlQuery& rs, int index)
{
    return index < 0 ? QVariant() : rs.value(index);
}

}  // namespace

std::optional<QString> DBFetcher::stringForColumn(const QSqlQuery& rs, const QString& column)
{
    return stringForColumnIndex(rs, indexOf(rs, column));
}

qint64 DBFetcher::longForColumn(const QSqlQuery& rs, const QString& column)
{
    return longForColumnIndex(rs, indexOf(rs, column));
}

qint32 DBFetcher::intForColumn(const QSqlQuery& rs, const QString& column)
{
    return intForColumnIndex(rs, indexOf(rs, column));
}

double DBFetcher::doubleForColumn(const QSqlQuery& rs, const QString& column)
{
    return doubleForColumnIndex(rs, indexOf(rs, column));
}

bool DBFetcher::boolForColumn(const QSqlQuery& rs, const QString& column)
{
    return boolForColumnIndex(rs, indexOf(rs, column));
}

std::optional<QString> DBFetcher::stringForColumnIndex(const QSqlQuery& rs, int index)
{
    const QVariant v = valueAt(rs, index);
    if (v.isNull())
        return std::nullopt;
    return v.toString();
}

qint64 DBFetcher::longForColumnIndex(const QSqlQuery& rs, int index)
{
    return integerFromValue(valueAt(rs, index));
}

qint64 DBFetcher::integerFromValue(const QVariant& v)
{
    if (const auto n = NumberReader::wholeNumber(v))
        return *n;
    // Beyond the range: held at its end, as SQLite's own conversion does.
    if (const auto d = NumberReader::realNumber(v))
        return *d > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return 0;
}

qint32 DBFetcher::intForColumnIndex(const QSqlQuery& rs, int index)
{
    // The low 32 bits, as SQLite's own 32-bit read gives them.
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(longForColumnIndex(rs, index))));
}

double DBFetcher::doubleForColumnIndex(const QSqlQuery& rs, int index)
{
    return NumberReader::realNumber(valueAt(rs, index)).value_or(0.0);
}

bool DBFetcher::boolForColumnIndex(const QSqlQuery& rs, int index)
{
    return intForColumnIndex(rs, index) != 0;
}

QVariant DBFetcher::bindable(const std::optional<QString>& text)
{
    return text ? QVariant(*text) : QVariant();
}
