#pragma once

#include "service/requestmanager.h"
#include "store/historymodel.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

struct ServerClipArrival;

// One pull of the history changes since the last pull ("/pull/"), merged into the local
// store on the request base's queue: new and changed clips, server-side deletions, the
// server's clearing of old clips, then the local clean-up (the newest 60 history clips) and
// a pass of the history upload worker. Made anew for each pull and kept by its caller until
// the callback has run; sent only with a usable key.
//
// Every element of the reply is checked before it reaches the store (ServerClip); one that
// fails is skipped and logged. The bookmark "lastPullRequestTime" advances after the merge,
// and not when an element was dropped for want of a key, so that window comes again once
// the key is there. A reply that arrives for a login other than the one that asked merges
// nothing.
class PullClipManager : public RequestManager {
public:
    PullClipManager();

    QString methodURL() const override;
    // The common query, the login token, "&last_request_timestamp=" and, when limited,
    // "&count=".
    QString combinURL() const override;
    // A user is logged in and the key state is 1.
    bool isContinueRequest() const override;
    // Merges the reply; the reply as a map, or none when it is not JSON or its code is not 0.
    QVariant parse(const QByteArray& data) override;

    // The bookmark sent: "lastPullRequestTime" at creation, "0" when absent.
    QString last_request_timestamp;
    // When not 0, the pull asks for at most that many clips.
    qint32 limitCount = 0;

private:
    // Merges the "histories" elements, the rows in one change; false when that change could
    // not be stored. keyMissing is set when an element was dropped for want of a usable key.
    // serverTime: the reply's "request_timestamp" (0 when it has none), kept with each listed
    // row as the service's time of holding it.
    bool mergeHistories(const QJsonArray& histories, qint64 serverTime, bool* keyMissing);
    // Drops the new rows that the clean-up after the merge would remove at once (older than
    // the 60th newest history clip once the merge is stored), so their bodies are never
    // written. times: the stored history clips' times by hash.
    static void dropWhatTheCleanUpRemoves(std::vector<ServerClipArrival>& arrivals, QHash<QString, qint64> times);
    void applyActions(const QJsonValue& actions);
    // True when the reply's clear time was usable (and applied).
    bool applyClearTime(const QJsonValue& time);
    static void cleanUp();
};
