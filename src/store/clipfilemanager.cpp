#include "store/clipfilemanager.h"

#include "store/digest.h"
#include "store/historymodel.h"
#include "store/pathhelper.h"

#include <QFileInfo>

ClipFileManager& ClipFileManager::sharedInstance()
{
    static ClipFileManager instance;
    return instance;
}

bool ClipFileManager::isHistoryFileExist(const HistoryModel& clip) const
{
    const auto& hash = clip.file_hash();
    if (!hash || !isValidFileHash(*hash))
        return false;
    return QFileInfo::exists(PathHelper::getBaseFilePath(*hash));
}
