#include "store/cliptype.h"

namespace {

const ClipKindInfo* infoOf(const QString& name)
{
    for (const ClipKindInfo& info : kClipKinds)
        if (name == info.name)
            return &info;
    return nullptr;
}

}  // namespace

ClipType ClipType::parse(const QString& type)
{
    ClipType result;
    if (type.isEmpty())
        return result;
    const qsizetype plus = type.indexOf(QLatin1Char(ClipKind::ModifierSeparator));
    result.m_base = plus < 0 ? type : type.left(plus);
    if (plus >= 0)
        result.m_modifiers = type.mid(plus + 1).split(QLatin1Char(ClipKind::ModifierSeparator));
    const qsizetype underscore = result.m_base.indexOf(QLatin1Char(ClipKind::KindSeparator));
    result.m_kindName = underscore < 0 ? result.m_base : result.m_base.left(underscore);
    if (underscore >= 0)
        result.m_extension = result.m_base.mid(underscore + 1);
    if (const ClipKindInfo* info = infoOf(result.m_kindName))
        result.m_kind = info->kind;
    return result;
}

ClipType ClipType::parse(const std::optional<QString>& type)
{
    return type ? parse(*type) : ClipType();
}

ClipType ClipType::of(QLatin1String kind, const QString& extension)
{
    QString base = kind;
    if (!extension.isEmpty())
        base += QLatin1Char(ClipKind::KindSeparator) + extension;
    return parse(base);
}

bool ClipType::syncable() const
{
    const ClipKindInfo* info = infoOf(m_kindName);
    return info && info->syncable;
}

ClipType ClipType::with(QLatin1String modifier) const
{
    ClipType result = *this;
    result.m_modifiers << QString(modifier);
    return result;
}

QString ClipType::toString() const
{
    if (m_base.isEmpty() && m_modifiers.isEmpty())
        return QString();
    if (m_modifiers.isEmpty())
        return m_base;
    return m_base + QLatin1Char(ClipKind::ModifierSeparator) + m_modifiers.join(QLatin1Char(ClipKind::ModifierSeparator));
}
