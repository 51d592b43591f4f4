#include "support/webclipstore.h"

#include <QJsonArray>
#include <QMutexLocker>
#include <QSet>

qint64 WebClipStore::store(Account& account, QJsonObject clip)
{
    const QString hash = clip.value(u"file_hash").toString();
    qint64 id = 0;
    for (auto it = account.clips.cbegin(); it != account.clips.cend(); ++it)
        if (it.value().value(u"file_hash").toString() == hash)
            id = it.key();
    if (id == 0) {
        id = m_nextId++;
        clip.insert(QStringLiteral("file_id"), id + 100000);
        clip.insert(QStringLiteral("file_ready"), 0);
    } else {
        const QJsonObject old = account.clips.value(id);
        clip.insert(QStringLiteral("file_id"), old.value(u"file_id"));
        clip.insert(QStringLiteral("file_ready"), old.value(u"file_ready"));
        if (!clip.contains(u"content"))
            clip.insert(QStringLiteral("content"), old.value(u"content"));
    }
    clip.insert(QStringLiteral("history_id"), id);
    account.clips.insert(id, clip);
    account.log.push_back({++account.clock, id, false});
    return id;
}

QJsonObject WebClipStore::post(const QString& account, const QJsonObject& body)
{
    QMutexLocker lock(&m_mutex);
    const QJsonObject clip = body.value(u"history").toObject();
    const QString hash = clip.value(u"file_hash").toString();
    if (hash.isEmpty())
        return {{QStringLiteral("code"), 2}};
    if (const int code = m_postCodes.value(hash, 0); code != 0)
        return {{QStringLiteral("code"), code}};
    Account& a = m_accounts[account];
    const qint64 id = store(a, clip);
    return {{QStringLiteral("code"), 0}, {QStringLiteral("history"), a.clips.value(id)}};
}

QJsonObject WebClipStore::put(const QString& account, const QJsonObject& body)
{
    QMutexLocker lock(&m_mutex);
    const QJsonObject clip = body.value(u"history").toObject();
    Account& a = m_accounts[account];
    const qint64 id = clip.value(u"history_id").toInteger();
    if (!a.clips.contains(id))
        return {{QStringLiteral("code"), -10}};
    QJsonObject merged = a.clips.value(id);
    for (auto it = clip.begin(); it != clip.end(); ++it)
        if (it.key() != u"history_id" && it.key() != u"file_id" && it.key() != u"file_ready")
            merged.insert(it.key(), it.value());
    a.clips.insert(id, merged);
    a.log.push_back({++a.clock, id, false});
    return {{QStringLiteral("code"), 0}};
}

QJsonObject WebClipStore::get(const QString& account, qint64 historyId, const QString& fileHash)
{
    QMutexLocker lock(&m_mutex);
    const Account& a = m_accounts[account];
    const QJsonObject clip = a.clips.value(historyId);
    if (clip.isEmpty() || clip.value(u"file_hash").toString() != fileHash)
        return {{QStringLiteral("code"), -4}};
    return {{QStringLiteral("code"), 0}, {QStringLiteral("history"), clip}};
}

QJsonObject WebClipStore::del(const QString& account, qint64 historyId)
{
    QMutexLocker lock(&m_mutex);
    Account& a = m_accounts[account];
    if (!a.clips.remove(historyId))
        return {{QStringLiteral("code"), -4}};
    a.log.push_back({++a.clock, historyId, true});
    return {{QStringLiteral("code"), 0}};
}

QJsonObject WebClipStore::pull(const QString& account, qint64 lastRequestTimestamp, qint64 count)
{
    QMutexLocker lock(&m_mutex);
    Account& a = m_accounts[account];
    QJsonArray histories;
    QJsonArray actions;
    QSet<qint64> seen;
    qint64 answeredUpTo = lastRequestTimestamp;
    // Newest change of each clip first, as a server would list them.
    for (auto it = a.log.rbegin(); it != a.log.rend(); ++it) {
        if (it->time <= lastRequestTimestamp || seen.contains(it->historyId))
            continue;
        seen.insert(it->historyId);
        if (it->deleted) {
            actions.append(QJsonObject{{QStringLiteral("action"), QStringLiteral("del")},
                                       {QStringLiteral("history_id"), it->historyId}});
        } else if (a.clips.contains(it->historyId)) {
            if (count > 0 && histories.size() >= count)
                continue;
            histories.append(a.clips.value(it->historyId));
        }
    }
    if (!a.log.empty())
        answeredUpTo = std::max(answeredUpTo, a.log.back().time);
    QJsonObject reply{{QStringLiteral("code"), 0},
                      {QStringLiteral("request_timestamp"), answeredUpTo},
                      {QStringLiteral("histories"), histories},
                      {QStringLiteral("action"), actions}};
    if (a.clearLogTime > lastRequestTimestamp)
        reply.insert(QStringLiteral("clear_all_ts"), a.clearTime);
    return reply;
}

QJsonObject WebClipStore::clearHistory(const QString& account, qint64 now)
{
    QMutexLocker lock(&m_mutex);
    Account& a = m_accounts[account];
    int cleared = 0;
    for (auto it = a.clips.begin(); it != a.clips.end();) {
        if (it.value().value(u"favourite").toInteger() <= 0) {
            it = a.clips.erase(it);
            ++cleared;
        } else {
            ++it;
        }
    }
    a.clearTime = now;
    a.clearLogTime = ++a.clock;
    a.log.push_back({a.clearLogTime, 0, false});
    return {{QStringLiteral("code"), 0}, {QStringLiteral("count"), cleared}};
}

QMap<qint64, QJsonObject> WebClipStore::clips(const QString& account) const
{
    QMutexLocker lock(&m_mutex);
    return m_accounts.value(account).clips;
}

qint64 WebClipStore::addClip(const QString& account, QJsonObject clip)
{
    QMutexLocker lock(&m_mutex);
    return store(m_accounts[account], std::move(clip));
}

void WebClipStore::setPostCode(const QString& fileHash, int code)
{
    QMutexLocker lock(&m_mutex);
    m_postCodes.insert(fileHash, code);
}

void WebClipStore::clear()
{
    QMutexLocker lock(&m_mutex);
    m_accounts.clear();
    m_postCodes.clear();
    m_nextId = 1;
}
