#pragma once

#include <QJsonObject>
#include <QString>

#include <map>
#include <utility>
#include <vector>

namespace webdouble {

class WebServiceDouble;
struct Call;

// "/push/" (POST, PUT, GET, DELETE), "/pull/" and "/clear_history/", all with a login token.
//
// Clips are kept per account by server id, as the client sent them (content as sent: the
// double never sees plain text of an "enc" clip), with the server's fields "history_id",
// "file_id" (both counting from 1), "file_ready" (1 once the body reached the object store),
// "device_name" (the pushing device's name from its init or login) and "file_size" (the
// stored body's size). Every change takes a mark from the server clock; "/pull/" answers by it.
// Choices:
// - POST: body {"history": clip} with a 32-hex "file_hash" (else {"code": 400}); a clip of a
//   known "file_hash" is updated in place (ids kept, the larger "favourite" magnitude kept);
//   {"code": 0, "history": stored}. A new clip publishes "history_upload_file" (the sender's
//   "device_token", "file_hash", "history_id", "file_id") to the account's topic.
// - PUT: by "history"."history_id"; {"code": -10} when the server has no such clip; updates
//   every field sent except "content" and the server's own; {"code": 0, "history": stored}.
// - GET: "&history_id=" and "&file_hash=" must name one clip: {"code": 0, "history"}; else
//   {"code": -10}.
// - DELETE: {"code": 0} and "history_delete" published to the account's topic; {"code": -10}
//   for an unknown id.
// - pull: "histories" changed after "&last_request_timestamp=", oldest change first, at most
//   "&count=" of them (then "request_timestamp" is the mark of the last one sent, so the next
//   pull continues there); "action" [{"action": "del", "history_id"}] for deletes after it;
//   "clear_all_ts" when a clear happened after it.
// - Every reply carries the account's "cipher".
// - clear_history: removes every clip whose "favourite" is not above 0, {"code": 0, "count":
//   removed, "cipher"}, and publishes "history_clear" with the clear's time.
class ClipRoutes {
public:
    struct StoredClip {
        QJsonObject history;
        qint64 changedAt = 0;
    };
    struct AccountClips {
        std::map<qint64, StoredClip> clips;                 // by history id
        std::vector<std::pair<qint64, qint64>> deletions;   // (mark, history id)
        qint64 clearedAt = 0;                               // mark of the last clear
        qint64 clearAllTs = 0;                              // its time
    };
    struct State {
        std::map<qint64, AccountClips> accounts;  // by user id
        qint64 nextHistoryId = 1;
        qint64 nextFileId = 1;
        // Posts of these file hashes are refused with the code (a clip the server will not take).
        std::map<QString, int> refusedPosts;
    };

    void install(WebServiceDouble& server);
    State& state() { return m_state; }
    // The clip of this account with that file hash and file id; nothing when there is none.
    StoredClip* find(qint64 userId, const QString& fileHash, qint64 fileId);
    StoredClip* findById(qint64 userId, qint64 historyId);
    // Gives the clip a new change mark.
    void touch(StoredClip& clip);
    // What a service does that lost a clip which another device then posted again: it holds it
    // under a new history id, changed now (no "del" action for the old id, no message). The
    // new id; 0 when the account has no clip of that hash. Under lock().
    qint64 repostUnderNewId(qint64 userId, const QString& fileHash);

private:
    WebServiceDouble* m_server = nullptr;
    State m_state;
};

}  // namespace webdouble
