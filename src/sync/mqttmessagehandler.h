#pragma once

#include "service/requestmanager.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class FetchLimiter;
class QJsonValue;

// What the push channel does with one message of the user's topic; MqttManager keeps the
// connection and hands each message of the current connection here, on the main thread,
// where all of this class's state lives.
//
// Messages are untrusted: a payload that is not the expected JSON, a file_hash that is not 32
// lower-case hex digits, a history id that is not above 0 are dropped and logged before
// anything is touched. Since any client of the broker can publish on any topic, a message is
// only a hint that makes the device ask the service: a delete is applied once the fetch of that
// clip finds it gone on the server, a clear only through a pull's "clear_all_ts", an uploaded
// clip (known here or not) only as the fetch's answer describes it; no message sets a body
// ready, an id or a favourite itself, and a row whose post or upload this device still owes
// is left alone. The fetches and pulls that messages start are bounded (FetchLimiter). A
// fetched clip enters the store through ServerClipStore.
class MqttMessageHandler {
public:
    MqttMessageHandler();
    ~MqttMessageHandler();
    MqttMessageHandler(const MqttMessageHandler&) = delete;
    MqttMessageHandler& operator=(const MqttMessageHandler&) = delete;

    // One message, with a user logged in.
    void handle(const QByteArray& topic, const QByteArray& payload);
    // No fetch or pull that a message started is still running or waiting.
    bool isSettled() const;
    // Forgets every fetch and pull under way; their completions change nothing here.
    void reset();

private:
    void historyDelete(const QJsonObject& data);
    void historyClear(const QJsonObject& data);
    void historyUploadFile(const QJsonObject& data);
    void fetchCompletion(const QString& fileHash, quint64 loginEpoch, const QVariant& result,
                         const std::optional<RequestError>& error);
    // Applies a delete once the server's answer to the fetch of the clip says it is gone.
    void deleteIfGone(const QString& fileHash, qint64 historyId, const QJsonValue& keyHash, quint64 loginEpoch,
                      const QVariant& result, const std::optional<RequestError>& error);

    std::unique_ptr<FetchLimiter> m_fetches;
    // How many fetches of each hash are on their way, the hashes of them a confirmed
    // "history_delete" named meanwhile, and the messages of deletes that named one before its
    // row existed (checked with the server once the fetch has stored it).
    QHash<QString, int> m_fetching;
    QSet<QString> m_deletedWhileFetching;
    QHash<QString, QJsonObject> m_deleteAnnouncedWhileFetching;
};
