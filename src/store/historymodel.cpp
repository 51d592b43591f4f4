#include "store/historymodel.h"

#include "platform/numberreader.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/clipkinds.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/historyschema.h"

#include <QJsonValue>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>

#include <spdlog/spdlog.h>

#include <cmath>

namespace {

// The pending mark as stored: its fraction tells two changes in one second apart.
QVariant exactChangeMark(const QSqlQuery& rs, int index)
{
    const double mark = DBFetcher::doubleForColumnIndex(rs, index);
    const double whole = std::trunc(mark);
    if (mark == whole && std::abs(whole) < 9.0e15)
        return QVariant(qint64(whole));
    return QVariant(mark);
}

const QString kContent = QStringLiteral("content");
const QString kTimestamp = QStringLiteral("timestamp");
const QString kDeviceName = QStringLiteral("device_name");
const QString kFileHash = QStringLiteral("file_hash");
const QString kType = QStringLiteral("type");
const QString kHistoryId = QStringLiteral("history_id");
const QString kFileId = QStringLiteral("file_id");
const QString kFileReady = QStringLiteral("file_ready");
const QString kFileName = QStringLiteral("file_name");
const QString kFavourite = QStringLiteral("favourite");
const QString kKeyHash = QStringLiteral("key_hash");

enum class Kind { Text, Number };

struct JsonKey {
    const QString* name;
    Kind kind;
};

const JsonKey kJsonKeys[] = {
    {&kContent, Kind::Text},     {&kTimestamp, Kind::Number}, {&kDeviceName, Kind::Text},
    {&kFileHash, Kind::Text},    {&kType, Kind::Text},        {&kHistoryId, Kind::Number},
    {&kFileId, Kind::Number},    {&kFileReady, Kind::Number}, {&kFileName, Kind::Text},
    {&kFavourite, Kind::Number}, {&kKeyHash, Kind::Text},
};

// A JSON value as a number that keeps its kind; numeric text is accepted.
std::optional<QVariant> jsonNumber(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Double:
        return value.toVariant();  // qlonglong for integers, double otherwise
    case QJsonValue::Bool:
        return QVariant(value.toBool());
    case QJsonValue::String: {
        // Integer text keeps the integer kind; other numeric text becomes a double.
        static const QRegularExpression integerText(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
        const QVariant text(value.toString());
        if (integerText.match(value.toString()).hasMatch())
            if (const auto n = NumberReader::wholeNumber(text))
                return QVariant(static_cast<qlonglong>(*n));
        if (const auto d = NumberReader::realNumber(text))
            return QVariant(*d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> jsonText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return value.toVariant().toString();
    return std::nullopt;
}

QVariant jsonOfNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return QJsonValue(v.toBool());
    case QMetaType::Double:
    case QMetaType::Float:
        return QJsonValue(v.toDouble());
    default:
        return QJsonValue(v.toLongLong());
    }
}

}  // namespace

HistoryModel::HistoryModel()
    : m_deviceName(hostDeviceName())
    , m_type(ClipKind::TextTxt)
    , m_fileReady(0)
    , m_localFileOk(0)
    , m_fileSize(0.0)
    , m_secert(0)
    , m_category(ClipCategory::History)
    , m_favourite(0)
{
}

void HistoryModel::initialize()
{
    DBFetcher::sharedInstance().prepareOnce(&HistorySchema::prepare);
}

void HistoryModel::inDatabase(const DBFetcher::Block& block)
{
    initialize();
    DBObject::inDatabase(block);
}

bool HistoryModel::inTransaction(const DBFetcher::TransactionBlock& block)
{
    initialize();
    return DBObject::inTransaction(block);
}

QString HistoryModel::device_name() const
{
    if (m_deviceName && !m_deviceName->isNull())
        return *m_deviceName;
    return QStringLiteral("");
}

QVariant HistoryModel::local_file_ok() const
{
    return QVariant(ClipFileManager::sharedInstance().isHistoryFileExist(*this));
}

HistoryModel::Columns HistoryModel::columnsOf(const QSqlQuery& resultSet)
{
    // The columns in field order.
    static const char* const names[16] = {"content",   "timeStamp",     "deviceName", "file_hash",
                                          "type",      "history_id",    "file_id",    "file_ready",
                                          "change_timestamp", "local_file_ok", "file_size", "file_name",
                                          "secert",    "category",      "favourite",  "key_hash"};
    Columns columns;
    columns.fill(-1);
    const QSqlRecord record = resultSet.record();
    for (int i = 0; i < record.count(); ++i) {
        const QString name = record.fieldName(i);
        for (int f = 0; f < 16; ++f)
            if (columns[f] < 0 && name.compare(QLatin1String(names[f]), Qt::CaseInsensitive) == 0)
                columns[f] = i;
    }
    return columns;
}

void HistoryModel::fillFrom(const QSqlQuery& rs, const Columns& c, bool keepChangeTimestamp)
{
    m_content = DBFetcher::stringForColumnIndex(rs, c[0]);
    m_timestamp = QVariant(DBFetcher::longForColumnIndex(rs, c[1]));
    m_deviceName = DBFetcher::stringForColumnIndex(rs, c[2]);
    m_fileHash = DBFetcher::stringForColumnIndex(rs, c[3]);
    m_type = DBFetcher::stringForColumnIndex(rs, c[4]);
    m_historyId = QVariant(DBFetcher::longForColumnIndex(rs, c[5]));
    m_fileId = QVariant(DBFetcher::longForColumnIndex(rs, c[6]));
    m_fileReady = QVariant(DBFetcher::intForColumnIndex(rs, c[7]));
    if (keepChangeTimestamp)
        m_changeTimestamp = QVariant(DBFetcher::integerFromValue(m_changeTimestamp));
    else
        m_changeTimestamp = exactChangeMark(rs, c[8]);
    m_localFileOk = QVariant(DBFetcher::intForColumnIndex(rs, c[9]));
    m_fileSize = QVariant(DBFetcher::doubleForColumnIndex(rs, c[10]));
    m_fileName = DBFetcher::stringForColumnIndex(rs, c[11]);
    m_secert = QVariant(DBFetcher::boolForColumnIndex(rs, c[12]));
    m_category = DBFetcher::stringForColumnIndex(rs, c[13]);
    m_favourite = QVariant(DBFetcher::longForColumnIndex(rs, c[14]));
    m_keyHash = DBFetcher::stringForColumnIndex(rs, c[15]);
}

HistoryModelPtr HistoryModel::getObjectFrom(const QSqlQuery* resultSet)
{
    if (!resultSet)
        return nullptr;
    return getObjectFrom(resultSet, columnsOf(*resultSet));
}

HistoryModelPtr HistoryModel::getObjectFrom(const QSqlQuery* resultSet, const Columns& columns)
{
    if (!resultSet)
        return nullptr;
    auto record = std::make_shared<HistoryModel>();
    record->fillFrom(*resultSet, columns, false);
    return record;
}

HistoryModelPtr HistoryModel::initWithDictionary(const QJsonObject& dictionary, QString* error)
{
    auto record = std::make_shared<HistoryModel>();
    for (const JsonKey& key : kJsonKeys) {
        const QJsonValue value = dictionary.value(*key.name);
        if (value.isUndefined() || value.isNull())
            continue;
        std::optional<QString> text;
        std::optional<QVariant> number;
        if (key.kind == Kind::Text)
            text = jsonText(value);
        else
            number = jsonNumber(value);
        if (!text && !number) {
            if (error)
                *error = QStringLiteral("value of \"%1\" has the wrong kind").arg(*key.name);
            return nullptr;
        }
        const QString& n = *key.name;
        if (n == kContent) record->m_content = text;
        else if (n == kTimestamp) record->m_timestamp = *number;
        else if (n == kDeviceName) record->m_deviceName = text;
        else if (n == kFileHash) record->m_fileHash = text;
        else if (n == kType) record->m_type = text;
        else if (n == kHistoryId) record->m_historyId = *number;
        else if (n == kFileId) record->m_fileId = *number;
        else if (n == kFileReady) record->m_fileReady = *number;
        else if (n == kFileName) record->m_fileName = text;
        else if (n == kFavourite) record->m_favourite = *number;
        else if (n == kKeyHash) record->m_keyHash = text;
    }
    return record;
}

QJsonObject HistoryModel::toDictionary() const
{
    QJsonObject json;
    auto putText = [&json](const QString& key, const std::optional<QString>& v) {
        if (v && !v->isNull())
            json.insert(key, *v);
    };
    auto putNumber = [&json](const QString& key, const QVariant& v) {
        if (v.isValid() && !v.isNull())
            json.insert(key, QJsonValue::fromVariant(jsonOfNumber(v)));
    };
    putText(kContent, m_content);
    putNumber(kTimestamp, m_timestamp);
    json.insert(kDeviceName, device_name());
    putText(kFileHash, m_fileHash);
    putText(kType, m_type);
    putNumber(kHistoryId, m_historyId);
    putNumber(kFileId, m_fileId);
    putNumber(kFileReady, m_fileReady);
    putText(kFileName, m_fileName);
    putNumber(kFavourite, m_favourite);
    putText(kKeyHash, m_keyHash);
    return json;
}

HistoryModelPtr HistoryModel::copy() const
{
    auto other = std::make_shared<HistoryModel>();
    other->m_content = content();
    other->m_timestamp = timestamp();
    other->m_deviceName = device_name();
    other->m_fileHash = file_hash();
    other->m_type = type();
    other->m_historyId = history_id();
    other->m_fileId = file_id();
    other->m_fileReady = file_ready();
    other->m_changeTimestamp = change_timestamp();
    other->m_localFileOk = local_file_ok();
    other->m_fileSize = file_size();
    other->m_fileName = file_name();
    other->m_secert = secert();
    other->m_category = category();
    other->m_favourite = favourite();
    other->m_keyHash = key_hash();
    return other;
}

bool HistoryModel::isExist() const
{
    bool exists = false;
    inDatabase([&](QSqlDatabase& db) { exists = isExist(db); });
    return exists;
}

bool HistoryModel::isExist(QSqlDatabase& db) const
{
    const auto n = DBFetcher::longForQuery(
        db, QStringLiteral("select count(file_hash) from History where file_hash = ? and category = ?;"),
        {DBFetcher::bindable(m_fileHash), DBFetcher::bindable(m_category)});
    return n.value_or(0) != 0;
}

void HistoryModel::save() const
{
    // Read before the block: local_file_ok looks at the disk.
    const QVariant localFileOk = local_file_ok();
    inDatabase([&](QSqlDatabase& db) { writeRow(db, localFileOk); });
}

bool HistoryModel::save(QSqlDatabase& db) const
{
    return writeRow(db, local_file_ok());
}

bool HistoryModel::writeRow(QSqlDatabase& db, const QVariant& localFileOk) const
{
    const QVariant content = DBFetcher::bindable(m_content);
    const QVariant deviceName = QVariant(device_name());
    const QVariant fileHash = DBFetcher::bindable(m_fileHash);
    const QVariant type = DBFetcher::bindable(m_type);
    const QVariant fileName = DBFetcher::bindable(m_fileName);
    const QVariant category = DBFetcher::bindable(m_category);
    const QVariant keyHash = DBFetcher::bindable(m_keyHash);
    {
        const auto n = DBFetcher::longForQuery(
            db, QStringLiteral("select count(file_hash) from History where file_hash = ? and category = ?;"),
            {fileHash, category});
        QString error;
        if (n.value_or(0) != 0) {
            const bool ok = DBFetcher::executeUpdate(
                db,
                QStringLiteral("update History set content = ?, timeStamp = ?, deviceName = ?, file_hash = ?, "
                               "type = ?, history_id = ?, file_id = ?, file_ready = ?, file_name = ?, "
                               "local_file_ok= ?, file_size = ?, favourite = ?, key_hash = ? where file_hash = ? "
                               "and category = ?;"),
                {content, m_timestamp, deviceName, fileHash, type, m_historyId, m_fileId, m_fileReady, fileName,
                 localFileOk, m_fileSize, m_favourite, keyHash, fileHash, category},
                &error);
            // Not silent: an absent NOT NULL value leaves the row as it was.
            if (!ok)
                spdlog::error("history save: the row of {} was not updated: {}",
                              m_fileHash.value_or(QString()).toStdString(), error.toStdString());
            return ok;
        }
        const bool ok = DBFetcher::executeUpdate(
            db,
            QStringLiteral("replace into History (content, timeStamp, deviceName, file_hash, type, history_id, "
                           "file_id, file_ready, file_name, change_timestamp, local_file_ok, file_size, secert, "
                           "category, favourite, key_hash) values (?,?,?,?,?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);"),
            {content, m_timestamp, deviceName, fileHash, type, m_historyId, m_fileId, m_fileReady, fileName,
             m_changeTimestamp, localFileOk, m_fileSize, m_secert, category, m_favourite, keyHash},
            &error);
        if (!ok) {
            spdlog::error("error");
            spdlog::debug("history insert failed: {}", error.toStdString());
        }
        return ok;
    }
}

void HistoryModel::fetch()
{
    const QVariantList args{DBFetcher::bindable(m_fileHash), DBFetcher::bindable(m_category)};
    const bool keep = m_changeTimestamp.isValid() && !m_changeTimestamp.isNull();
    inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rs = DBFetcher::executeQuery(
            db, QStringLiteral("select * from History where file_hash = ? and category = ?;"), args);
        if (rs.next())
            fillFrom(rs, columnsOf(rs), keep);
    });
}

void HistoryModel::del() const
{
    const QVariantList args{DBFetcher::bindable(m_fileHash), DBFetcher::bindable(m_category)};
    inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("delete from History where file_hash is ? and category is ?"),
                                 args);
    });
}

void HistoryModel::signSecert(bool flag) const
{
    const QVariantList args{QVariant(flag), DBFetcher::bindable(m_fileHash)};
    inDatabase([&](QSqlDatabase& db) {
        DBFetcher::executeUpdate(db, QStringLiteral("UPDATE History SET secert = ? where file_hash is ?"), args);
    });
}

void HistoryModel::increase_change_count()
{
    inDatabase([&](QSqlDatabase& db) { increase_change_count(db); });
}

bool HistoryModel::increase_change_count(QSqlDatabase& db)
{
    m_changeTimestamp = QVariant(unixTimeNowNumber());
    return DBFetcher::executeUpdate(
        db, QStringLiteral("UPDATE History SET change_timestamp = ? where file_hash is ? and category is ?"),
        {m_changeTimestamp, DBFetcher::bindable(m_fileHash), DBFetcher::bindable(m_category)});
}

bool HistoryModel::return_to_zero_change_count() const
{
    const QVariantList args{DBFetcher::bindable(m_fileHash), DBFetcher::bindable(m_category)};
    // Exactly the mark this record read: a second change in the same second is another mark.
    const double mine = m_changeTimestamp.isValid() && !m_changeTimestamp.isNull() ? m_changeTimestamp.toDouble() : 0.0;
    bool ok = false;
    inDatabase([&](QSqlDatabase& db) {
        double stored = 0.0;
        QSqlQuery rs = DBFetcher::executeQuery(
            db, QStringLiteral("select change_timestamp from history where file_hash is ? and category is ?"), args);
        if (rs.next())
            stored = DBFetcher::doubleForColumn(rs, QStringLiteral("change_timestamp"));
        rs.finish();
        if (stored != mine) {
            ok = true;
            return;  // changed again after this record was read: stays pending
        }
        ok = DBFetcher::executeUpdate(
            db, QStringLiteral("UPDATE History SET change_timestamp = 0 where file_hash is ? and category is ?"), args);
    });
    return ok;
}

std::optional<QString> HistoryModel::encryptFileName() const
{
    return encryptFileNameWithKeyHash(m_keyHash);
}

std::optional<QString> HistoryModel::encryptFileNameWithKeyHash(const std::optional<QString>& keyHash) const
{
    if (!keyHash || keyHash->isNull() || !m_fileHash)
        return std::nullopt;
    return md5HexOfString(*m_fileHash + QLatin1Char('+') + *keyHash);
}
