#include "support/webservice/webservicedouble.h"

#include <httplib.h>

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>

namespace webdouble {

namespace {

const QString kCode = QStringLiteral("code");
const QString kHistory = QStringLiteral("history");
const QString kCipher = QStringLiteral("cipher");

bool isFileHash(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(text).hasMatch();
}

qint64 number(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().toLongLong();
    return value.toInteger();
}

// Server fields the client cannot set.
const QStringList kServerFields = {QStringLiteral("history_id"), QStringLiteral("file_id"),
                                   QStringLiteral("file_ready"), QStringLiteral("device_name"),
                                   QStringLiteral("file_size")};

}  // namespace

ClipRoutes::StoredClip* ClipRoutes::find(qint64 userId, const QString& fileHash, qint64 fileId)
{
    auto& clips = m_state.accounts[userId].clips;
    for (auto& entry : clips) {
        const QJsonObject& history = entry.second.history;
        if (history.value(QStringLiteral("file_hash")).toString() == fileHash
            && (fileId == 0 || number(history.value(QStringLiteral("file_id"))) == fileId))
            return &entry.second;
    }
    return nullptr;
}

ClipRoutes::StoredClip* ClipRoutes::findById(qint64 userId, qint64 historyId)
{
    auto& clips = m_state.accounts[userId].clips;
    const auto it = clips.find(historyId);
    return it == clips.end() ? nullptr : &it->second;
}

void ClipRoutes::touch(StoredClip& clip)
{
    clip.changedAt = m_server->nextTimestamp();
}

qint64 ClipRoutes::repostUnderNewId(qint64 userId, const QString& fileHash)
{
    StoredClip* clip = find(userId, fileHash, 0);
    if (!clip)
        return 0;
    StoredClip moved = *clip;
    auto& clips = m_state.accounts[userId].clips;
    clips.erase(number(moved.history.value(QStringLiteral("history_id"))));
    const qint64 id = m_state.nextHistoryId++;
    moved.history.insert(QStringLiteral("history_id"), id);
    moved.history.insert(QStringLiteral("file_id"), m_state.nextFileId++);
    touch(moved);
    clips[id] = moved;
    return id;
}

void ClipRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    using Auth = WebServiceDouble::Auth;

    auto deviceName = [this](const Call& call) {
        return m_server->accountRoutes().state().deviceNames[call.param("device_token")];
    };

    server.route("POST", "/push/", Auth::Token, [this, deviceName](const Call& call, httplib::Response& response) {
        const QJsonObject sent = call.json ? call.json->value(kHistory).toObject() : QJsonObject();
        const QString fileHash = sent.value(QStringLiteral("file_hash")).toString();
        if (!isFileHash(fileHash)) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        if (const auto refused = m_state.refusedPosts.find(fileHash); refused != m_state.refusedPosts.end()) {
            WebServiceDouble::answerJson(response, {{kCode, refused->second}, {kCipher, m_server->cipherOf(call.account)}});
            return;
        }
        const qint64 user = call.account->userId;
        StoredClip* clip = find(user, fileHash, 0);
        const bool isNew = !clip;
        if (!clip) {
            const qint64 id = m_state.nextHistoryId++;
            StoredClip fresh;
            fresh.history.insert(QStringLiteral("history_id"), id);
            fresh.history.insert(QStringLiteral("file_id"), m_state.nextFileId++);
            fresh.history.insert(QStringLiteral("file_ready"), 0);
            fresh.history.insert(QStringLiteral("favourite"), 0);
            clip = &(m_state.accounts[user].clips[id] = fresh);
        }
        const qint64 storedFavourite = number(clip->history.value(QStringLiteral("favourite")));
        for (auto it = sent.begin(); it != sent.end(); ++it) {
            if (!kServerFields.contains(it.key()))
                clip->history.insert(it.key(), it.value());
        }
        const qint64 sentFavourite = number(sent.value(QStringLiteral("favourite")));
        if (std::llabs(storedFavourite) > std::llabs(sentFavourite))
            clip->history.insert(QStringLiteral("favourite"), storedFavourite);
        clip->history.insert(QStringLiteral("device_name"), deviceName(call));
        touch(*clip);
        // The user's other devices fetch a new clip (its content travelled with the push).
        if (isNew)
            m_server->publish(user, QStringLiteral("history_upload_file"),
                              {{QStringLiteral("device_token"), call.param("device_token")},
                               {QStringLiteral("file_hash"), fileHash},
                               {QStringLiteral("history_id"), clip->history.value(QStringLiteral("history_id"))},
                               {QStringLiteral("file_id"), clip->history.value(QStringLiteral("file_id"))}});
        WebServiceDouble::answerJson(response, {{kCode, 0}, {kHistory, clip->history}, {kCipher, m_server->cipherOf(call.account)}});
    });

    server.route("PUT", "/push/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const QJsonObject sent = call.json ? call.json->value(kHistory).toObject() : QJsonObject();
        StoredClip* clip = findById(call.account->userId, number(sent.value(QStringLiteral("history_id"))));
        if (!clip) {
            WebServiceDouble::answerJson(response, {{kCode, -10}, {kCipher, m_server->cipherOf(call.account)}});
            return;
        }
        const qint64 storedFavourite = number(clip->history.value(QStringLiteral("favourite")));
        for (auto it = sent.begin(); it != sent.end(); ++it) {
            if (!kServerFields.contains(it.key()) && it.key() != QStringLiteral("content"))
                clip->history.insert(it.key(), it.value());
        }
        // The later decision wins, as for a post and a set-favourite.
        if (std::llabs(storedFavourite) > std::llabs(number(sent.value(QStringLiteral("favourite")))))
            clip->history.insert(QStringLiteral("favourite"), storedFavourite);
        touch(*clip);
        WebServiceDouble::answerJson(response, {{kCode, 0}, {kHistory, clip->history}, {kCipher, m_server->cipherOf(call.account)}});
    });

    server.route("GET", "/push/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        StoredClip* clip = findById(call.account->userId, call.param("history_id").toLongLong());
        if (!clip || clip->history.value(QStringLiteral("file_hash")).toString() != call.param("file_hash")) {
            WebServiceDouble::answerJson(response, {{kCode, -10}, {kCipher, m_server->cipherOf(call.account)}});
            return;
        }
        QJsonObject history = clip->history;
        if (!history.contains(QStringLiteral("file_size")))
            history.insert(QStringLiteral("file_size"), 0);
        WebServiceDouble::answerJson(response, {{kCode, 0}, {kHistory, history}, {kCipher, m_server->cipherOf(call.account)}});
    });

    server.route("DELETE", "/push/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const qint64 user = call.account->userId;
        const qint64 id = call.param("history_id").toLongLong();
        AccountClips& account = m_state.accounts[user];
        const auto it = account.clips.find(id);
        if (it == account.clips.end()) {
            WebServiceDouble::answerJson(response, {{kCode, -10}, {kCipher, m_server->cipherOf(call.account)}});
            return;
        }
        const QJsonObject history = it->second.history;
        account.clips.erase(it);
        account.deletions.emplace_back(m_server->nextTimestamp(), id);
        m_server->publish(user, QStringLiteral("history_delete"),
                          {{QStringLiteral("device_token"), call.param("device_token")},
                           {QStringLiteral("file_hash"), history.value(QStringLiteral("file_hash"))},
                           {QStringLiteral("key_hash"), history.value(QStringLiteral("key_hash"))}});
        WebServiceDouble::answerJson(response, {{kCode, 0}, {kCipher, m_server->cipherOf(call.account)}});
    });

    server.route("GET", "/pull/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const qint64 since = call.param("last_request_timestamp").toLongLong();
        const qint64 count = call.param("count").toLongLong();
        AccountClips& account = m_state.accounts[call.account->userId];
        std::vector<const StoredClip*> changed;
        for (const auto& entry : account.clips)
            if (entry.second.changedAt > since)
                changed.push_back(&entry.second);
        std::sort(changed.begin(), changed.end(),
                  [](const StoredClip* a, const StoredClip* b) { return a->changedAt < b->changedAt; });
        qint64 stamp = m_server->nextTimestamp();
        if (count > 0 && static_cast<qint64>(changed.size()) > count) {
            changed.resize(static_cast<size_t>(count));
            stamp = changed.back()->changedAt;
        }
        QJsonArray histories;
        for (const StoredClip* clip : changed)
            histories.append(clip->history);
        QJsonArray actions;
        for (const auto& deletion : account.deletions)
            if (deletion.first > since && deletion.first <= stamp)
                actions.append(QJsonObject{{QStringLiteral("action"), QStringLiteral("del")},
                                           {QStringLiteral("history_id"), deletion.second}});
        QJsonObject reply{{kCode, 0},
                          {QStringLiteral("cipher"), m_server->cipherOf(call.account)},
                          {QStringLiteral("request_timestamp"), stamp},
                          {QStringLiteral("histories"), histories},
                          {QStringLiteral("action"), actions}};
        if (account.clearedAt > since)
            reply.insert(QStringLiteral("clear_all_ts"), account.clearAllTs);
        WebServiceDouble::answerJson(response, reply);
    });

    server.route("GET", "/clear_history/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const qint64 user = call.account->userId;
        AccountClips& account = m_state.accounts[user];
        qint64 removed = 0;
        for (auto it = account.clips.begin(); it != account.clips.end();) {
            if (number(it->second.history.value(QStringLiteral("favourite"))) > 0) {
                ++it;
            } else {
                it = account.clips.erase(it);
                ++removed;
            }
        }
        account.clearedAt = m_server->nextTimestamp();
        account.clearAllTs = account.clearedAt;
        m_server->publish(user, QStringLiteral("history_clear"),
                          {{QStringLiteral("device_token"), call.param("device_token")},
                           {QStringLiteral("timestamp"), account.clearAllTs}});
        WebServiceDouble::answerJson(response, {{kCode, 0},
                                                {QStringLiteral("count"), removed},
                                                {QStringLiteral("cipher"), m_server->cipherOf(call.account)}});
    });
}

}  // namespace webdouble
