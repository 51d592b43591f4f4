#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class SerialQueue;

// Owner of the history database "clipDB.sqlite" and of the one serial database queue.
//
// Every access is a block run on the queue, synchronously for the caller, so blocks from any
// thread run one at a time in arrival order. A block must not start database work itself:
// a nested block is a programming error and aborts instead of deadlocking.
//
// Opening tests the file with "pragma quick_check;" (every page and record, not yet whether
// each index matches its table), so nothing is written into a file whose pages are damaged;
// the whole-file "pragma integrity_check;" follows off the main thread through
// checkWholeFile(), on a reading connection of its own beside the first captures (where the
// file cannot use write-ahead logging, a reader would hold the writers back, so opening runs
// the whole check itself). Only a file that is not a database or that a check reports damaged
// is replaced: it is moved aside as
// "clipDB.sqlite.corrupt-<unix time>" (with its -journal/-wal/-shm), never deleted, and a new
// database takes its place. The bodies its rows name go with it: files/, zips/ and previews/
// move into "clipDB.sqlite.corrupt-<unix time>-bodies", and the user is told once, through a
// desktop notification, where both are. The same happens when the schema step cannot bring the file to
// the layout it needs. Any other failure (busy or locked by another process, I/O error, out
// of memory, no permission) keeps the file and leaves the database unavailable: every block
// is skipped, so readers get empty results and writers store nothing, until retryOpenIfDue()
// opens it; the user is told once per such spell through a desktop notification.
//
// An open database runs in write-ahead-log mode with synchronous=FULL, so a commit is
// durable across a power cut; where WAL cannot be used the file keeps its journal mode
// (logged).
//
// Lock order: a caller may hold ClipFileManager::bodyLock() while it waits for a block (that
// lock comes before the queue); a block must never take it, nor any lock whose holder may
// wait for the database queue.
class DBFetcher {
public:
    using Block = std::function<void(QSqlDatabase& db)>;
    // A block whose statements form one change: true to commit them, false to undo them.
    using TransactionBlock = std::function<bool(QSqlDatabase& db)>;
    // The schema step: false when the file cannot be brought to the layout the step needs.
    using PrepareStep = std::function<bool(QSqlDatabase& db)>;

    // How long opening waits for another process's lock, and the back-off between tries
    // while the file stays locked (doubling from first to most).
    struct Timing {
        std::chrono::milliseconds busyTimeout{5000};
        std::chrono::milliseconds firstRetry{1000};
        std::chrono::milliseconds mostRetry{300000};
    };
    // For fetchers made from now on (tests); Timing{} restores the defaults.
    static void setTiming(const Timing& timing);

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

    // While one lives, every block this thread starts runs only when the condition holds on
    // the queue, just before the block would run (a sync reply checks there that its login is
    // still the current one, so a logout between the check and the write cannot slip in).
    // A block whose condition fails is skipped as on an unavailable database; the first one
    // a condition skips is logged with what the condition guards. Scopes nest; the innermost
    // holds.
    class BlockCondition {
    public:
        explicit BlockCondition(std::function<bool()> condition, QString what = QStringLiteral("a guarded write"));
        ~BlockCondition();
        BlockCondition(const BlockCondition&) = delete;
        BlockCondition& operator=(const BlockCondition&) = delete;

    private:
        std::function<bool()> m_condition;
        QString m_what;
        mutable std::atomic<bool> m_skipLogged{false};
        const BlockCondition* m_outer;
        friend class DBFetcher;
    };

    // Runs the block with the open database and returns when it has run; skipped when the
    // database is unavailable or closed, or when this thread's block condition fails.
    void inDatabase(const Block& block);
    // The one way to write several statements as one change (a capture's row, time and
    // pending mark; a sync reply's updates): runs the block on the queue inside one write
    // transaction (BEGIN IMMEDIATE) and commits when the block answers true, else undoes
    // every statement it ran. True when committed; false, with nothing written, when the
    // block refused, a commit failed or the database is unavailable. The block must not
    // begin, commit or roll back itself.
    bool inTransaction(const TransactionBlock& block);
    // Runs the step once for each file this fetcher opens, before it returns to any caller
    // (the schema step of the table classes). Concurrent callers wait for the first one. A
    // step that answers false has the file moved aside as damaged; it then runs once more on
    // the new file. The step is kept and runs again after a reopen.
    void prepareOnce(const PrepareStep& step);
    // While the database is unavailable for a passing reason (another process holds the file
    // locked): tries to open it again once the back-off since the last try has passed. True
    // when the database is open. Waits up to the busy timeout; not on the main thread.
    bool retryOpenIfDue();
    void close();

    // The whole-file check that opening left for later; not on the main thread nor the queue's.
    // Runs on a connection of its own, so database blocks go on meanwhile. A file the check
    // reports damaged goes aside with its bodies as at opening (the rows and bodies stored
    // since go with it: nothing is lost, the user is told where) and a new, prepared file takes
    // its place; "DATA_CHANGED" follows. Takes ClipFileManager::bodyLock() only then, so no
    // capture is between its body and its row while the folders move. Does nothing when
    // nothing is owed (a passed check, a closed or unavailable database); a check that cannot
    // run (busy, I/O) keeps the file and leaves it owed.
    void checkWholeFile();
    // Opening has not yet had the whole file checked.
    bool wholeFileCheckOwed() const;

    bool isOpen() const;
    // This fetcher moved a damaged file aside: the bodies left in place belong to no row the
    // new file could show, so nothing may be removed as unused in this run.
    bool movedDamagedFileAside() const;
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
    // "pragma quick_check;" or "pragma integrity_check;" on db; broken is set when the
    // answer says the file is damaged (not when it could not be asked).
    bool checkPassed(QSqlDatabase& db, const QString& pragma, bool* broken) const;
    void replaceAfterLateCheck();
    // With the damaged file open: moves it aside and opens a new one in its place.
    bool replaceDamagedFile();
    bool moveBrokenFileAside();
    // True when the file now runs in write-ahead-log mode.
    bool useWriteAheadLog();
    void prepareOnQueue();
    void becameUnavailable();
    void closeOnQueue();

    QString m_path;
    QString m_connectionName;
    Timing m_timing;
    std::unique_ptr<SerialQueue> m_queue;
    std::atomic<bool> m_available{false};
    std::atomic<bool> m_prepared{false};
    std::atomic<bool> m_movedAside{false};
    std::atomic<bool> m_wholeCheckOwed{false};
    // Touched only on the queue's thread.
    QSqlDatabase m_db;
    PrepareStep m_step;
    bool m_retryable = false;
    bool m_closed = false;
    bool m_userTold = false;
    std::chrono::steady_clock::time_point m_nextTry;
    std::chrono::milliseconds m_retryDelay{0};
};
