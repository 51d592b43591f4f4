#include "sync/fileservice.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "store/clipkinds.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "sync/downloadfilemanager.h"
#include "sync/uploadfilemanager.h"

#include <QFile>
#include <QMutexLocker>

#include <spdlog/spdlog.h>

FileService& FileService::sharedInstance()
{
    static FileService instance;
    return instance;
}

void FileService::process()
{
    {
        QMutexLocker lock(&m_mutex);
        m_setAside.clear();
    }
    next();
}

void FileService::next()
{
    QMutexLocker lock(&m_mutex);
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_isRunning = false;
        return;
    }
    if (m_isRunning)
        return;
    for (;;) {
        const HistoryModelPtr clip =
            DBKeeper::getFileProcessHistory(QStringList(m_setAside.cbegin(), m_setAside.cend()));
        if (!clip) {
            m_isRunning = false;
            return;
        }
        const QString hash = clip->file_hash().value_or(QString());
        auto setAside = [&](const char* why) {
            spdlog::warn("file worker: {} passed over until the next trigger ({})", hash.toStdString(), why);
            m_setAside.insert(hash);
        };
        if (!isSyncableType(clip->type()) || !isValidFileHash(hash)) {
            setAside("not a body that syncs");
            continue;
        }
        const quint64 generation = m_generation;
        if (NumberReader::wholeNumber(clip->file_ready()).value_or(0) == 0) {
            const bool zipped = Utils::externTypeList(clip->type()).value_or(QStringList()).contains(ClipKind::ModifierZip);
            const QString body = zipped ? PathHelper::getZipsFilePath(hash) : PathHelper::getBaseFilePath(hash);
            if (!QFile::exists(body)) {
                setAside("its body is missing here");
                continue;
            }
            if (float(clip->file_size().toDouble()) > float(UploadFileManager::kMaxFileSize)) {
                setAside("too large");
                continue;
            }
            if (clip->key_hash().value_or(QString()).isEmpty()) {
                setAside("no key hash");
                continue;
            }
            m_isRunning = true;
            UploadFileManager::sharedInstance().upload(
                clip, [this, generation, hash](const QVariant&, const std::optional<RequestError>& error) {
                    if (error && error->domain == UploadFileManager::kUploadErrorDomain) {
                        QMutexLocker lock(&m_mutex);
                        if (generation == m_generation)
                            m_setAside.insert(hash);
                        lock.unlock();
                        return finished(generation, true);
                    }
                    finished(generation, !error);
                });
            return;
        }
        if (QFile::exists(PathHelper::getBaseFilePath(hash))) {
            DBKeeper::setLocalFileOkWithHash(hash);
            continue;
        }
        m_isRunning = true;
        DownloadFileManager::sharedInstance().downloadHistory(
            clip, [this, generation, clip, hash](const QVariant&, const std::optional<RequestError>& error) {
                if (error) {
                    const bool ownFault = error->domain == DownloadFileManager::kErrorDomain
                                          && !error->userInfo.isEmpty();
                    if (ownFault) {
                        QMutexLocker lock(&m_mutex);
                        if (generation == m_generation)
                            m_setAside.insert(hash);
                    }
                    return finished(generation, ownFault);
                }
                NotificationCenter& center = NotificationCenter::defaultCenter();
                center.post(NotificationName::FileDownloadDone, QVariant::fromValue(clip));
                if (!DBKeeper::getFileProcessHistory())
                    center.post(NotificationName::AllFileDownloadDone);
                finished(generation, true);
            });
        return;
    }
}

void FileService::finished(quint64 generation, bool goOn)
{
    {
        QMutexLocker lock(&m_mutex);
        if (generation != m_generation)
            return;
        m_isRunning = false;
    }
    if (goOn)
        dispatch::mainAsync([this] { next(); });
}

bool FileService::isRunning() const
{
    QMutexLocker lock(&m_mutex);
    return m_isRunning;
}

void FileService::resetForTesting()
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = false;
    m_setAside.clear();
    ++m_generation;
}
