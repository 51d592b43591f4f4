#include "store/clipbodysweeper.h"

#include "store/clipfilemanager.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "store/pathhelper.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSet>
#include <QSqlQuery>

#include <spdlog/spdlog.h>

#include <optional>

int ClipBodySweeper::removeBodiesWithoutRows()
{
    // No capture or delete of a hash can come between reading the rows and removing files.
    QMutexLocker lock(&ClipFileManager::bodyLock());
    std::optional<QSet<QString>> named;
    HistoryModel::inDatabase([&](QSqlDatabase& db) {
        QSqlQuery rs = DBFetcher::executeQuery(db, QStringLiteral("select distinct file_hash from History"));
        if (!rs.isActive())
            return;
        QSet<QString> hashes;
        while (rs.next())
            hashes.insert(rs.value(0).toString());
        named = std::move(hashes);
    });
    if (!named) {
        spdlog::warn("clip bodies not checked: the history is unavailable");
        return 0;
    }
    if (DBFetcher::sharedInstance().movedDamagedFileAside()) {
        spdlog::warn("clip bodies not checked: this run started a new history in place of a damaged one");
        return 0;
    }
    int removed = 0;
    for (const QString& folder : {PathHelper::getBaseFilePath(), PathHelper::getZipsFilePath()}) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (!isValidFileHash(name) || named->contains(name))
                continue;
            if (QFile::remove(dir.filePath(name)))
                ++removed;
            else
                spdlog::warn("could not remove the unused clip body {}", dir.filePath(name).toStdString());
        }
    }
    if (removed > 0)
        spdlog::info("removed {} clip bodies that no clip uses", removed);
    return removed;
}
