#include "app/clipkindtable.h"

const ClipKindUi* clipKindUi(const std::optional<QString>& type)
{
    const ClipType::Kind kind = ClipType::parse(type).kind();
    for (const ClipKindUi& row : kClipKindUi)
        if (row.kind == kind)
            return &row;
    return nullptr;
}

std::optional<ClipBody> clipBodyOf(const std::optional<QString>& type)
{
    const ClipKindUi* row = clipKindUi(type);
    return row ? std::optional<ClipBody>(row->body) : std::nullopt;
}
