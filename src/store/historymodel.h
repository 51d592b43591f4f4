#pragma once

#include "store/dbobject.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <optional>

class HistoryModel;
using HistoryModelPtr = std::shared_ptr<HistoryModel>;
using HistoryList = QList<HistoryModelPtr>;

// The clip record: one clip of the history list or one favourite copy of a clip, stored as
// one row of the History table. Its identity is the pair (file_hash, category).
//
// Every field may hold no value. Text fields are std::nullopt then; number fields hold a
// QVariant that remembers whether it was made from an integer, a floating-point value or a
// boolean, is bound to SQL in that form, and is invalid for no value (bound as NULL).
//
// Database operations are each one block on the database queue and return when it has run.
// Failures are not reported to the caller. A record is used by one thread at a time.
class HistoryModel : public DBObject {
public:
    // type "text_txt", local_file_ok 0, file_ready 0, file_size 0.0, device_name the host's
    // name, secert 0, category "history", favourite 0; the rest without a value.
    HistoryModel();

    // The schema step of the History table, once per database; every entry of the class to
    // the database runs it first.
    static void initialize();
    // The class's entry to the database queue: the schema step, then the block.
    static void inDatabase(const DBFetcher::Block& block);
    // The same for several statements that form one change, in one write transaction:
    // everything the block wrote is committed together, or nothing (DBFetcher::inTransaction).
    static bool inTransaction(const DBFetcher::TransactionBlock& block);

    // A new record from the row the result set is on (all sixteen columns by name); null
    // without a result set. Ids, change_timestamp, favourite and timestamp read as 64-bit
    // integers (a fraction dropped), file_size as a double, secert as a boolean.
    static HistoryModelPtr getObjectFrom(const QSqlQuery* resultSet);
    // Where the sixteen columns are in a result set, found once for all its rows.
    using Columns = std::array<int, 16>;
    static Columns columnsOf(const QSqlQuery& resultSet);
    static HistoryModelPtr getObjectFrom(const QSqlQuery* resultSet, const Columns& columns);

    // The JSON form: "content", "timestamp", "device_name", "file_hash", "type", "history_id",
    // "file_id", "file_ready", "file_name", "favourite", "key_hash". Every key is optional;
    // a missing or null key keeps the default. Numeric text is taken for a number key and a
    // number for a text key; any other kind makes the whole record invalid (null, with the
    // reason in error).
    static HistoryModelPtr initWithDictionary(const QJsonObject& dictionary, QString* error = nullptr);
    // Fields without a value are left out; device_name is always there (empty when unset).
    QJsonObject toDictionary() const;

    // Field-by-field copy through the getters (device_name empty when unset, local_file_ok
    // as the disk says now).
    HistoryModelPtr copy() const;

    // Writes the record into its row. An existing row keeps its change_timestamp, secert and
    // category; a new row takes all sixteen columns (NULL numbers become the column's
    // default). A record without content or file_hash is not stored; failures are logged.
    void save() const override;
    // A row of this file_hash and category exists (false when the query fails).
    bool isExist() const override;
    // Fills the record from its row; without a row it stays as it was. A change_timestamp
    // the record already holds is kept, cut to whole seconds.
    void fetch() override;
    void del() const override;

    // save, isExist and increase_change_count as statements of a block already on the queue
    // (inside inTransaction), each true when its statements ran.
    bool save(QSqlDatabase& db) const;
    bool isExist(QSqlDatabase& db) const;
    bool increase_change_count(QSqlDatabase& db);

    // Sets secert of every row with this file_hash (both categories); the record's own field
    // is left alone.
    void signSecert(bool flag) const;
    // Marks a pending local change: change_timestamp = now (with its fraction), in the record
    // and in its row.
    void increase_change_count();
    // Clears the row's pending change when it is exactly the one this record read (the
    // stored value with its fraction); any newer change, even in the same second, stays
    // pending. A record read from a row holds the mark exactly as stored.
    // False when the database could not be asked or written (a row changed meanwhile is a
    // success: it stays pending on purpose).
    bool return_to_zero_change_count() const;

    // Name of the encrypted body file: the MD5 hex of "<file_hash>+<key hash>"; nothing
    // without a key hash (or without a file_hash).
    std::optional<QString> encryptFileName() const;
    std::optional<QString> encryptFileNameWithKeyHash(const std::optional<QString>& keyHash) const;

    // Accessors. Two getters differ from plain storage: device_name gives an empty text when
    // none is stored, and local_file_ok is computed on every call from the body file on disk
    // (the value given to its setter is stored but never returned).
    const std::optional<QString>& content() const { return m_content; }
    void setContent(const std::optional<QString>& v) { m_content = v; }
    const QVariant& timestamp() const { return m_timestamp; }
    void setTimestamp(const QVariant& v) { m_timestamp = v; }
    QString device_name() const;
    void setDevice_name(const std::optional<QString>& v) { m_deviceName = v; }
    const std::optional<QString>& file_hash() const { return m_fileHash; }
    void setFile_hash(const std::optional<QString>& v) { m_fileHash = v; }
    const std::optional<QString>& type() const { return m_type; }
    void setType(const std::optional<QString>& v) { m_type = v; }
    const QVariant& history_id() const { return m_historyId; }
    void setHistory_id(const QVariant& v) { m_historyId = v; }
    const QVariant& file_id() const { return m_fileId; }
    void setFile_id(const QVariant& v) { m_fileId = v; }
    const QVariant& file_ready() const { return m_fileReady; }
    void setFile_ready(const QVariant& v) { m_fileReady = v; }
    const QVariant& change_timestamp() const { return m_changeTimestamp; }
    void setChange_timestamp(const QVariant& v) { m_changeTimestamp = v; }
    QVariant local_file_ok() const;
    void setLocal_file_ok(const QVariant& v) { m_localFileOk = v; }
    const QVariant& file_size() const { return m_fileSize; }
    void setFile_size(const QVariant& v) { m_fileSize = v; }
    const std::optional<QString>& file_name() const { return m_fileName; }
    void setFile_name(const std::optional<QString>& v) { m_fileName = v; }
    const QVariant& secert() const { return m_secert; }
    void setSecert(const QVariant& v) { m_secert = v; }
    const std::optional<QString>& category() const { return m_category; }
    void setCategory(const std::optional<QString>& v) { m_category = v; }
    const QVariant& favourite() const { return m_favourite; }
    void setFavourite(const QVariant& v) { m_favourite = v; }
    const std::optional<QString>& key_hash() const { return m_keyHash; }
    void setKey_hash(const std::optional<QString>& v) { m_keyHash = v; }

private:
    bool writeRow(QSqlDatabase& db, const QVariant& localFileOk) const;
    void fillFrom(const QSqlQuery& rs, const Columns& columns, bool keepChangeTimestamp);

    std::optional<QString> m_content;
    QVariant m_timestamp;
    std::optional<QString> m_deviceName;
    std::optional<QString> m_fileHash;
    std::optional<QString> m_type;
    QVariant m_historyId;
    QVariant m_fileId;
    QVariant m_fileReady;
    QVariant m_changeTimestamp;
    QVariant m_localFileOk;
    QVariant m_fileSize;
    std::optional<QString> m_fileName;
    QVariant m_secert;
    std::optional<QString> m_category;
    QVariant m_favourite;
    std::optional<QString> m_keyHash;
};
