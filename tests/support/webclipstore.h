#pragma once

#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QString>

#include <vector>

// The clips of the web-service test double: each account's clips as the server keeps them,
// and a change log that pulls read. A post gives a clip a server id and a file id, a post,
// put, delete or clear enters the log, and a pull answers the window after the bookmark it
// is given. Replies are built here; the endpoint group adds the account's "cipher".
//
// The log's times are a counter per account, so a window is exact; the clear time is the
// Unix time of the clear, compared with clip times as the client does.
class WebClipStore {
public:
    // "/push/" POST: {"history": clip} -> {"code", "history"}.
    QJsonObject post(const QString& account, const QJsonObject& body);
    // "/push/" PUT: {"history": clip without content}; -10 for a clip the server does not have.
    QJsonObject put(const QString& account, const QJsonObject& body);
    // "/push/" GET: the clip with the id and hash; code -4 when there is none.
    QJsonObject get(const QString& account, qint64 historyId, const QString& fileHash);
    // "/push/" DELETE: removes the clip and logs it; code -4 when there is none.
    QJsonObject del(const QString& account, qint64 historyId);
    // "/pull/": changes after the bookmark, at most count clips when count > 0.
    QJsonObject pull(const QString& account, qint64 lastRequestTimestamp, qint64 count);
    // "/clear_history/": removes every clip that is not a favourite; {"code": 0, "count": n}.
    QJsonObject clearHistory(const QString& account, qint64 now);

    // Test access: an account's clips by id, and a clip as another device would post it.
    QMap<qint64, QJsonObject> clips(const QString& account) const;
    qint64 addClip(const QString& account, QJsonObject clip);
    // Replies to "/push/" POST with this code from now on (0 for normal answers).
    void setPostCode(const QString& fileHash, int code);
    void clear();

private:
    struct Change {
        qint64 time;
        qint64 historyId;
        bool deleted;
    };
    struct Account {
        QMap<qint64, QJsonObject> clips;
        std::vector<Change> log;
        qint64 clock = 0;
        qint64 clearTime = 0;
        qint64 clearLogTime = 0;
    };
    qint64 store(Account& account, QJsonObject clip);

    mutable QMutex m_mutex;
    QMap<QString, Account> m_accounts;
    QMap<QString, int> m_postCodes;
    qint64 m_nextId = 1;
};
