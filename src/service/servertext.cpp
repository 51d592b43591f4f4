#include "service/servertext.h"

namespace ServerText {

std::optional<QString> bounded(const QVariant& value, qsizetype maxChars)
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = value.toString();
    if (text.isEmpty() || text.size() > maxChars)
        return std::nullopt;
    return text;
}

}  // namespace ServerText
