#include "sync/serverclip.h"

#include "platform/numberreader.h"
#include "store/clipkinds.h"
#include "store/cliptype.h"
#include "store/digest.h"

#include <QJsonObject>

namespace {

bool isAbsent(const QJsonValue& v)
{
    return v.isUndefined() || v.isNull();
}

// A JSON integer (or decimal text) within the range; nothing for fractions, booleans and
// anything else.
std::optional<qint64> integerOf(const QJsonValue& v, qint64 min, qint64 max)
{
    return NumberReader::idOrTime(v.toVariant(), min, max, NumberReader::Text::Accepted);
}

bool isPlainName(const QString& name)
{
    return !name.contains(u'/') && !name.contains(QChar(u'\0')) && name != u"." && name != u"..";
}

}  // namespace

std::optional<ServerClip> ServerClip::fromJson(const QJsonValue& value, QString* reason)
{
    auto fail = [&](const QString& why) -> std::optional<ServerClip> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    if (!value.isObject())
        return fail(QStringLiteral("not an object"));
    const QJsonObject o = value.toObject();

    ServerClip clip;
    const QJsonValue hash = o.value(u"file_hash");
    if (!hash.isString() || !isValidFileHash(hash.toString()))
        return fail(QStringLiteral("bad file_hash"));
    clip.fileHash = hash.toString();

    struct NumberField {
        const char* key;
        std::optional<qint64>* target;
        qint64 min;
        qint64 max;
    };
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min() + 1;
    const NumberField numbers[] = {
        {"history_id", &clip.historyId, 1, kMax},
        {"file_id", &clip.fileId, 0, kMax},
        {"file_ready", &clip.fileReady, 0, 1},
        {"favourite", &clip.favourite, kMin, kMax},
        {"file_size", &clip.fileSize, 0, kMax},
    };
    for (const NumberField& f : numbers) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (isAbsent(v))
            continue;
        *f.target = integerOf(v, f.min, f.max);
        if (!*f.target)
            return fail(QStringLiteral("bad %1").arg(QLatin1String(f.key)));
    }
    // A time is a whole number of seconds, like every time the service sends.
    const QJsonValue time = o.value(u"timestamp");
    if (!isAbsent(time)) {
        clip.timestamp = integerOf(time, 0, kMax);
        if (!clip.timestamp)
            return fail(QStringLiteral("bad timestamp"));
    }

    struct TextField {
        const char* key;
        std::optional<QString>* target;
    };
    const TextField texts[] = {
        {"device_name", &clip.deviceName}, {"file_name", &clip.fileName}, {"type", &clip.type},
        {"key_hash", &clip.keyHash},       {"content", &clip.content},
    };
    for (const TextField& f : texts) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (isAbsent(v))
            continue;
        if (!v.isString())
            return fail(QStringLiteral("bad %1").arg(QLatin1String(f.key)));
        *f.target = v.toString();
    }
    if (clip.keyHash && clip.keyHash->isEmpty())
        clip.keyHash.reset();
    if (clip.keyHash && !isValidKeyHash(*clip.keyHash))
        return fail(QStringLiteral("bad key_hash"));
    if (clip.fileName && !isPlainName(*clip.fileName))
        return fail(QStringLiteral("bad file_name"));
    if (clip.type && clip.type->isEmpty())
        clip.type.reset();
    return clip;
}

HistoryModelPtr ServerClip::newRow(const QString& category, const std::optional<QString>& content) const
{
    auto row = std::make_shared<HistoryModel>();
    row->setFile_hash(fileHash);
    row->setCategory(category);
    if (timestamp)
        row->setTimestamp(QVariant(*timestamp));
    if (const auto local = typeForNewRow())
        row->setType(local);
    row->setHistory_id(QVariant(historyId.value_or(0)));
    row->setFile_id(QVariant(fileId.value_or(0)));
    row->setFile_ready(QVariant(fileReady.value_or(0)));
    if (fileSize)
        row->setFile_size(QVariant(*fileSize));
    if (deviceName)
        row->setDevice_name(deviceName);
    if (favourite)
        row->setFavourite(QVariant(*favourite));
    if (fileName && !fileName->isEmpty())
        row->setFile_name(fileName);
    row->setKey_hash(keyHash);
    row->setContent(content);
    return row;
}

std::optional<QString> ServerClip::typeForNewRow() const
{
    if (!type || !keyHash)
        return type;
    // Came under a key: stays encrypted here whatever the service's type says, so nothing of
    // it leaves this device in the clear.
    const ClipType parsed = ClipType::parse(*type);
    return parsed.encrypted() ? *type : parsed.with(ClipKind::ModifierEnc).toString();
}

DBKeeper::ServerState ServerClip::serverState() const
{
    auto number = [](const std::optional<qint64>& n) { return n ? QVariant(*n) : QVariant(); };
    DBKeeper::ServerState s;
    s.historyId = number(historyId);
    s.fileId = number(fileId);
    s.fileReady = number(fileReady);
    s.deviceName = deviceName;
    s.type = type;
    s.keyHash = keyHash;
    s.fileName = fileName;
    s.timestamp = number(timestamp);
    s.favourite = number(favourite);
    return s;
}
