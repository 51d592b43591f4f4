#include "service/replyvalue.h"

#include "platform/numberreader.h"

std::optional<qint64> ReplyValue::integer(const QVariant& value)
{
    return NumberReader::jsonInteger(value);
}
