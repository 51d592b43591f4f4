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

#include <limits>
#include <optional>

int ClipBodySweeper::removeBodiesWithoutRows(const std::function<void()>& betweenBlocks)
{
    // No capture or delete of a hash can come between reading the rows and removing files.
    QMutexLocker lock(&ClipFileManager::bodyLock());
    std::optional<QSet<QString>> named = QSet<QString>();
    qint64 after = std::numeric_limits<qint64>::min();
    for (bool more = true; more && named;) {
        more = false;
        // A block that never ran (the history unavailable) answers nothing: not "no rows".
        bool answered = false;
        HistoryModel::inDatabase([&](QSqlDatabase& db) {
            answered = true;
            QSqlQuery rs = DBFetcher::executeQuery(
                db, QStringLiteral("select rowid, file_hash from History where rowid > ? order by rowid limit ?"),
                {QVariant(after), QVariant(kRowsPerBlock)});
            if (!rs.isActive()) {
                named.reset();
                return;
            }
            int read = 0;
            while (rs.next()) {
                after = rs.value(0).toLongLong();
                named->insert(rs.value(1).toString());
                ++read;
            }
            more = read == kRowsPerBlock;
        });
        if (!answered)
            named.reset();
        if (betweenBlocks)
            betweenBlocks();
    }
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
