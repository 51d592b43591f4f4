#include "store/dbfetcher.h"

#include "platform/dispatch.h"
#include "platform/usernotifications.h"
#include "platform/numberreader.h"
#include "platform/notificationcenter.h"
#include "store/clipfilemanager.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSqlError>
#include <QSqlRecord>

#include <spdlog/spdlog.h>

#include <algorithm>
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

QMutex g_timingLock;
DBFetcher::Timing g_timing;

DBFetcher::Timing currentTiming()
{
    QMutexLocker lock(&g_timingLock);
    return g_timing;
}

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

void DBFetcher::setTiming(const Timing& timing)
{
    QMutexLocker lock(&g_timingLock);
    g_timing = timing;
}

DBFetcher::DBFetcher(const QString& path)
    : m_path(path)
    , m_connectionName(QStringLiteral("nuvarel-history-%1").arg(++g_connectionCounter))
    , m_timing(currentTiming())
    , m_queue(std::make_unique<SerialQueue>(QStringLiteral("database")))
{
    m_retryDelay = m_timing.firstRetry;
    // A connection may be used only by the thread that made it: the queue's.
    m_queue->sync([this] { openOnQueue(); });
}

DBFetcher::~DBFetcher()
{
    close();
}

void DBFetcher::openOnQueue()
{
    m_retryable = false;
    if (m_path.isEmpty()) {
        spdlog::error("db error: no path for the history database");
        return;
    }
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        m_db.setDatabaseName(m_path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_timing.busyTimeout.count()));
    }
    if (!m_db.open()) {
        spdlog::error("db error: {}", text(m_db.lastError().text()));
        becameUnavailable();
        return;
    }
    // False when opening stops here: the file is kept for a later try, or could not be
    // replaced. A damaged file is replaced by a new one.
    bool replaced = false;
    const auto checked = [&](const QString& pragma) {
        bool broken = false;
        if (checkPassed(m_db, pragma, &broken))
            return true;
        if (!broken) {
            m_db.close();
            becameUnavailable();
            return false;
        }
        if (!replaceDamagedFile())
            return false;
        replaced = true;
        return true;
    };
    // The quick check reads every page, so a damaged file is found before anything is
    // written into it; only whether each index matches its table is left for later.
    if (!checked(QStringLiteral("pragma quick_check;")))
        return;
    m_wholeCheckOwed = false;
    const bool logged = useWriteAheadLog();
    // A new file in place of a damaged one has nothing to check.
    if (!replaced) {
        if (logged) {
            m_wholeCheckOwed = true;
        } else {
            // Without the log a reader beside the writers would hold them back: check it all now.
            if (!checked(QStringLiteral("pragma integrity_check;")))
                return;
            if (replaced)
                useWriteAheadLog();
        }
    }
    m_available = true;
    m_retryDelay = m_timing.firstRetry;
    m_userTold = false;
}

void DBFetcher::becameUnavailable()
{
    m_retryable = true;
    m_nextTry = std::chrono::steady_clock::now() + m_retryDelay;
    m_retryDelay = std::min(m_retryDelay * 2, m_timing.mostRetry);
    if (m_userTold)
        return;
    m_userTold = true;
    UserNotification notice;
    notice.title = QStringLiteral("剪贴板历史暂时不可用");
    notice.informativeText =
        QStringLiteral("历史数据库暂时无法打开（可能正被其他程序占用），新的复制暂不会被记录。之后复制时会自动重试。");
    notice.playsDefaultSound = false;
    UserNotifications::current().deliverNotification(notice);
}

bool DBFetcher::replaceDamagedFile()
{
    // Moved while still open: closing first would let SQLite check point and delete a -wal
    // file, and that may be what a recovery needs.
    const bool moved = moveBrokenFileAside();
    m_db.close();
    if (!moved)
        return false;
    if (!m_db.open()) {
        spdlog::error("db error: {}", text(m_db.lastError().text()));
        return false;
    }
    return true;
}

bool DBFetcher::useWriteAheadLog()
{
    // Before the log is set up: it takes effect only on a file that has no page yet, so a new
    // history gives its free pages back in short steps (HistorySchema::compactStep) and no
    // long block holds the queue.
    if (!executeUpdate(m_db, QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL")))
        spdlog::warn("history database {}: incremental auto-vacuum refused", text(m_path));
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    QString mode;
    if (query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && query.next())
        mode = query.value(0).toString().toLower();
    query.finish();
    // SQLite answers with the mode in force: a file system without shared memory, or an
    // in-memory database, keeps its own.
    if (mode != QLatin1String("wal"))
        spdlog::warn("history database {} cannot use write-ahead logging; it stays in journal mode \"{}\"",
                     text(m_path), text(mode.isEmpty() ? QStringLiteral("unknown") : mode));
    // Every commit reaches the disk before it returns, in either mode.
    if (!query.exec(QStringLiteral("PRAGMA synchronous=FULL")))
        spdlog::warn("history database {}: synchronous=FULL refused: {}", text(m_path),
                     text(query.lastError().text()));
    return mode == QLatin1String("wal");
}

bool DBFetcher::checkPassed(QSqlDatabase& db, const QString& pragma, bool* broken) const
{
    *broken = false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(pragma)) {
        const QSqlError error = query.lastError();
        const int code = primaryCode(error);
        if (code == kSqliteNotADatabase || code == kSqliteCorrupt) {
            spdlog::error("history database {} is damaged: {}", text(m_path), text(error.text()));
            *broken = true;
        } else {
            // Busy, locked, I/O, memory, permissions: nothing says the file is bad, so keep it.
            spdlog::error("db error: history database {} cannot be read now (code {}): {}; "
                          "the history is unavailable until a later try succeeds",
                          text(m_path), code, text(error.text()));
        }
        return false;
    }
    if (!query.next()) {
        spdlog::error("db error: no answer from the check of {}", text(m_path));
        return false;
    }
    const QString answer = query.value(0).toString();
    if (answer.toLower() == QLatin1String("ok"))
        return true;
    spdlog::error("history database {} failed its check ({}): {}", text(m_path), text(pragma), text(answer));
    *broken = true;
    return false;
}

void DBFetcher::checkWholeFile()
{
    if (m_queue->isCurrent())
        qFatal("nested database block: the whole-file check cannot run inside a block");
    if (!m_wholeCheckOwed || !m_available)
        return;
    const QString name = m_connectionName + QStringLiteral("-check");
    bool passed = false;
    bool broken = false;
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        reader.setDatabaseName(m_path);
        reader.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
                                     .arg(m_timing.busyTimeout.count()));
        if (reader.open())
            passed = checkPassed(reader, QStringLiteral("pragma integrity_check;"), &broken);
        else
            spdlog::error("db error: the history database {} could not be opened for its check: {}", text(m_path),
                          text(reader.lastError().text()));
        reader.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (passed) {
        m_wholeCheckOwed = false;
        spdlog::info("history database checked");
        return;
    }
    if (!broken)
        return;
    {
        // No capture may be between its body and its row while the body folders move.
        QMutexLocker bodies(&ClipFileManager::bodyLock());
        m_queue->sync([this] { replaceAfterLateCheck(); });
    }
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
}

void DBFetcher::replaceAfterLateCheck()
{
    if (!m_available || !m_wholeCheckOwed)
        return;
    m_wholeCheckOwed = false;
    if (!replaceDamagedFile()) {
        // The damaged file stays where it is and nothing more is written into it.
        m_available = false;
        return;
    }
    useWriteAheadLog();
    m_prepared = false;
    prepareOnQueue();
}

bool DBFetcher::wholeFileCheckOwed() const
{
    return m_wholeCheckOwed;
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
    // The old rows name these bodies: a recovery needs them, and the new history's sweep
    // would take them for leftovers.
    const QString bodies = aside + QStringLiteral("-bodies");
    bool bodiesMoved = false;
    for (const QString& folder : {PathHelper::getBaseFilePath(), PathHelper::getZipsFilePath(),
                                  PathHelper::getPreviewsFilePath()}) {
        const QDir dir(folder);
        if (dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            continue;
        const QString to = bodies + QLatin1Char('/') + dir.dirName();
        if (QDir().mkpath(bodies) && QDir().rename(folder, to)) {
            bodiesMoved = true;
            spdlog::warn("the clip bodies of the damaged history moved to {}", text(to));
        } else {
            spdlog::error("could not move {} aside with the damaged history; it stays in place", text(folder));
        }
    }
    m_movedAside = true;
    UserNotification notice;
    notice.title = QStringLiteral("剪贴板历史无法读取");
    notice.informativeText = bodiesMoved
        ? QStringLiteral("历史文件已损坏，无法读取，已开始新的历史记录。旧的历史文件已移到 %1，其中剪贴内容的文件已移到 %2。")
              .arg(aside, bodies)
        : QStringLiteral("历史文件已损坏，无法读取，已开始新的历史记录。旧的历史文件已移到 %1。").arg(aside);
    notice.playsDefaultSound = false;
    UserNotifications::current().deliverNotification(notice);
    return true;
}

namespace {
thread_local const DBFetcher::BlockCondition* t_blockCondition = nullptr;
}

DBFetcher::BlockCondition::BlockCondition(std::function<bool()> condition, QString what)
    : m_condition(std::move(condition))
    , m_what(std::move(what))
    , m_outer(t_blockCondition)
{
    t_blockCondition = this;
}

DBFetcher::BlockCondition::~BlockCondition()
{
    t_blockCondition = m_outer;
}

void DBFetcher::inDatabase(const Block& block)
{
    if (m_queue->isCurrent())
        qFatal("nested database block: a database block must not start database work");
    const BlockCondition* condition = t_blockCondition;
    m_queue->sync([this, &block, condition] {
        if (!m_available)
            return;
        if (condition && condition->m_condition && !condition->m_condition()) {
            // A skipped block looks like an empty answer to its caller: say so once.
            if (!condition->m_skipLogged.exchange(true))
                spdlog::info("database work of {} skipped: its login has ended", text(condition->m_what));
            return;
        }
        block(m_db);
    });
}

bool DBFetcher::inTransaction(const TransactionBlock& block)
{
    bool committed = false;
    inDatabase([&](QSqlDatabase& db) {
        // IMMEDIATE takes the write lock now, so the commit cannot fail on a lock upgrade.
        if (!executeUpdate(db, QStringLiteral("BEGIN IMMEDIATE"))) {
            spdlog::error("history transaction could not begin");
            return;
        }
        if (block(db) && executeUpdate(db, QStringLiteral("COMMIT"))) {
            committed = true;
            return;
        }
        if (!executeUpdate(db, QStringLiteral("ROLLBACK")))
            spdlog::error("history transaction could not be rolled back");
        spdlog::warn("history transaction undone: nothing of it was written");
    });
    return committed;
}

void DBFetcher::prepareOnce(const PrepareStep& step)
{
    if (m_queue->isCurrent())
        qFatal("nested database block: a database block must not start database work");
    if (m_prepared)
        return;
    m_queue->sync([this, &step] {
        if (!m_step)
            m_step = step;
        prepareOnQueue();
    });
}

void DBFetcher::prepareOnQueue()
{
    if (!m_available || m_prepared || !m_step)
        return;
    // Once per file, whatever the outcome: a step that fails again must not run before every
    // block.
    m_prepared = true;
    if (m_step(m_db))
        return;
    spdlog::error("history database {} has a layout that cannot be brought up to date", text(m_path));
    if (!replaceDamagedFile()) {
        m_available = false;
        return;
    }
    useWriteAheadLog();
    if (!m_step(m_db))
        spdlog::error("db error: the new history database could not be prepared");
}

bool DBFetcher::retryOpenIfDue()
{
    if (m_available)
        return true;
    if (m_queue->isCurrent())
        qFatal("nested database block: a database block must not start database work");
    m_queue->sync([this] {
        if (m_available || m_closed || !m_retryable || std::chrono::steady_clock::now() < m_nextTry)
            return;
        spdlog::info("trying the history database {} again", text(m_path));
        m_prepared = false;
        openOnQueue();
        if (m_available)
            spdlog::info("history database {} is available again", text(m_path));
        prepareOnQueue();
    });
    return m_available;
}

void DBFetcher::close()
{
    if (m_queue->isCurrent())
        qFatal("nested database block: the database cannot be closed from inside a block");
    m_queue->sync([this] { closeOnQueue(); });
}

void DBFetcher::closeOnQueue()
{
    m_closed = true;
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

bool DBFetcher::movedDamagedFileAside() const
{
    return m_movedAside;
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
