#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class SerialQueue;

// Owner of the history database "clipDB.sqlite" and of the one serial database queue.
//
// Every access is a block run on the queue, synchronously for the caller, so blocks from any
// thread run one at a time in arrival order. A block must not start database work itself:
// a nested block is a programming error and aborts instead of deadlocking.
//
// Opening tests the file with "pragma integrity_check;". Only a file that is not a database
// or that the check reports damaged is replaced: it is moved aside as
// "clipDB.sqlite.corrupt-<unix time>" (with its -journal/-wal/-shm), never deleted, and a new
// database takes its place. Any other failure (busy or locked, I/O error, out of memory, no
// permission) keeps the file and leaves the database unavailable for this run: every block
// is skipped, so readers get empty results and writers store nothing.
//
// Lock order: a caller may hold ClipFileManager::bodyLock() while it waits for a block (that
// lock comes before the queue); a block must never take it, nor any lock whose holder may
// wait for the database queue.
class DBFetcher {
public:
    using Block = std::function<void(QSqlDatabase& db)>;

    // The process's fetcher, made on first call (under a lock) on the file in the
    // application library folder.
    static DBFetcher& sharedInstance();
    // Closes and forgets the shared fetcher; the next use opens the file under the current
    // home again. Only while nothing else uses the database (tests start each case in a new
    // home).
    static void resetSharedInstance();

    explicit DBFetcher(const QString& path);
    ~DBFetcher();

    DBFetcher(const DBFetcher&) = delete;
    DBFetcher& operator=(const DBFetcher&) = delete;

    // Runs the block with the open database and returns when it has run; skipped when the
    // database is unavailable or closed.
    void inDatabase(const Block& block);
    // Runs the step once for this fetcher, before it returns to any caller (the schema step
    // of the table classes). Concurrent callers wait for the first one.
    void prepareOnce(const Block& step);
    void close();

    bool isOpen() const;
    const QString& path() const { return m_path; }

    // Statement helpers for blocks, in the manner of the usual SQLite wrappers: every value
    // is bound as a parameter (an invalid QVariant as NULL). Failures are logged at debug
    // level and reported by the result only.
    static QSqlQuery executeQuery(QSqlDatabase& db, const QString& sql, const QVariantList& args = {});
    static bool executeUpdate(QSqlDatabase& db, const QString& sql, const QVariantList& args = {},
                              QString* error = nullptr);
    // First column of the first row as an integer; nothing when the query fails or gives no row.
    static std::optional<qint64> longForQuery(QSqlDatabase& db, const QString& sql, const QVariantList& args = {});
    // Names compared without case.
    static bool tableExists(QSqlDatabase& db, const QString& table);
    static bool columnExists(QSqlDatabase& db, const QString& column, const QString& table);

    // Column reads by name, as SQLite's own conversions give them: NULL reads as 0 (or no
    // text); a REAL read as an integer drops its fraction toward zero.
    static std::optional<QString> stringForColumn(const QSqlQuery& rs, const QString& column);
    static qint64 longForColumn(const QSqlQuery& rs, const QString& column);
    static qint32 intForColumn(const QSqlQuery& rs, const QString& column);
    static double doubleForColumn(const QSqlQuery& rs, const QString& column);
    static bool boolForColumn(const QSqlQuery& rs, const QString& column);
    // The same by position (from rs.record().indexOf), for reading many columns of a row.
    static std::optional<QString> stringForColumnIndex(const QSqlQuery& rs, int index);
    static qint64 longForColumnIndex(const QSqlQuery& rs, int index);
    static qint32 intForColumnIndex(const QSqlQuery& rs, int index);
    static double doubleForColumnIndex(const QSqlQuery& rs, int index);
    static bool boolForColumnIndex(const QSqlQuery& rs, int index);

    // A stored number as a whole 64-bit number: no value reads 0, a fraction is dropped
    // toward zero, a number beyond the range is held at its end, numeric text is read.
    static qint64 integerFromValue(const QVariant& value);

    // An optional text as a bound value: nothing becomes NULL.
    static QVariant bindable(const std::optional<QString>& text);

private:
    void openOnQueue();
    bool integrityCheckPassed(bool* broken);
    bool moveBrokenFileAside();
    void closeOnQueue();

    QString m_path;
    QString m_connectionName;
    std::unique_ptr<SerialQueue> m_queue;
    // Touched only on the queue's thread.
    QSqlDatabase m_db;
    std::atomic<bool> m_available{false};
    std::once_flag m_prepared;
};
