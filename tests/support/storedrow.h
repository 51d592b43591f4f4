#pragma once

#include "store/clipcategories.h"
#include "store/historymodel.h"

#include <QString>

#include <memory>

namespace testrows {

// The stored row of the hash in the category, read back from the database; null when there is none.
inline HistoryModelPtr rowOf(const QString& hash, const QString& category = QString(ClipCategory::History))
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(category);
    if (!clip->isExist())
        return nullptr;
    clip->fetch();
    return clip;
}

}  // namespace testrows
