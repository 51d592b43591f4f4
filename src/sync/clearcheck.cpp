#include "sync/clearcheck.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/notificationnames.h"
#include "sync/pushclipsmanager.h"
#include "sync/replylogin.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <limits>
#include <memory>

#include <spdlog/spdlog.h>

namespace {

// The service's answer to the fetch of a clip it no longer has.
constexpr qint64 kCodeNoSuchClip = -10;

void askNext(std::shared_ptr<HistoryList> rows, quint64 epoch)
{
    if (rows->isEmpty() || !ReplyLogin::holds(epoch))
        return;
    const HistoryModelPtr row = rows->takeFirst();
    const auto id = NumberReader::idOrTime(row->history_id(), 1, std::numeric_limits<qint64>::max());
    if (!id)
        return askNext(rows, epoch);
    PushClipsManager::sharedInstance().Get(
        row, [rows, epoch, row, id = *id](const QVariant& result, const std::optional<RequestError>& error) {
            ReplyLogin::Scope scope(epoch);
            const QJsonDocument document = QJsonDocument::fromJson(result.toByteArray());
            const QString hash = row->file_hash().value_or(QString());
            const QString category = row->category().value_or(QString());
            if (error || !document.isObject()
                || NumberReader::jsonInteger(document.object().value(QStringLiteral("code")).toVariant())
                       != kCodeNoSuchClip) {
                spdlog::info("clear: {} is kept; the service did not say it no longer has it", hash.toStdString());
            } else if (ReplyLogin::holds(epoch)) {
                const HistoryList deleted = DBKeeper::deleteClearedByService(hash, category, id);
                if (!deleted.isEmpty()) {
                    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(deleted);
                    NotificationCenter::defaultCenter().postOnMain(NotificationName::HistoryDelete);
                }
            }
            askNext(rows, epoch);
        });
}

}  // namespace

void ClearCheck::confirm(const HistoryList& rows, quint64 loginEpoch)
{
    if (rows.isEmpty())
        return;
    auto list = std::make_shared<HistoryList>(rows);
    dispatch::mainAsync([list, loginEpoch] { askNext(list, loginEpoch); });
}
