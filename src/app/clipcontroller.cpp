#include "app/clipcontroller.h"

#include "app/clipkindtable.h"
#include "app/menucontroller.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/pasteboard.h"
#include "platform/pastekeystroke.h"
#include "plugins/advanceprivacymanager.h"
#include "plugins/pluginmanager.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/stagedfile.h"
#include "store/utils.h"
#include "sync/uploadtriggers.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>

#include <spdlog/spdlog.h>

#include <cmath>

namespace {

// The privacy decision: nothing when the clip is not to be recorded, else whether it is
// secret. Without the privacy script the kind's own rule decides.
std::optional<bool> verdict(const QString& from, const QString& extension, const QString& content,
                            const std::function<bool()>& ownRule)
{
    if (!Utils::isAdvancePrivacy())
        return ownRule();
    const int32_t result = AdvancePrivacyManager::sharedInstance().saveOptionFrom(from, extension, content);
    if (result == -1)
        return std::nullopt;
    return result == 1;
}

// The sync layer put this clip on the pasteboard itself: that one change is not a copy.
bool isIncoming(const QString& hash)
{
    return ConfigureManager::sharedInstance().clearIncommingHashIfEqual(hash);
}

// What follows the last "." of the name; a name that starts with its only dot (".bashrc")
// or ends in one has none.
QString pathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return QString();
    return name.mid(dot + 1);
}

std::chrono::milliseconds intervalFromSettings()
{
    const double seconds = ClipController::monitorSpeedFromSettings();
    // Taken in single precision, as the setting has always been read.
    const float interval = static_cast<float>(seconds);
    if (!std::isfinite(interval) || interval <= 0.0f)
        return std::chrono::milliseconds(std::lround(ClipController::kDefaultMonitorSpeed * 1000));
    return std::chrono::milliseconds(std::max(1L, std::lround(double(interval) * 1000.0)));
}

}  // namespace

double ClipController::monitorSpeedFromSettings()
{
    // 0, a negative, a broken or a huge number would poll without pause or not at all.
    const auto stored = NumberReader::realNumber(
        ClipUserDefaults::standardUserDefaults().value(DefaultsKey::ClipMonitorSpeed), 0.0, kMaxMonitorSpeed);
    return stored && *stored > 0.0 ? *stored : kDefaultMonitorSpeed;
}

ClipController& ClipController::sharedInstance()
{
    // Never released: the capture queue must outlive every block that reaches the controller.
    static ClipController* instance = new ClipController();
    return *instance;
}

ClipController::ClipController()
{
    if (!dispatch::isMainThread())
        spdlog::error("ClipController made off the main thread: its poll timer will not run");
    m_timer.callOnTimeout([this] {
        // A capture is due within the settle time anyway; polling now would split a burst.
        if (!m_settleTimer.isActive())
            seekClipboard();
    });
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(kChangeSettle);
    m_settleTimer.callOnTimeout([this] { seekClipboard(); });
    Pasteboard::setChangeObserver([this] { m_settleTimer.start(); });
    startClipObserver();
    NotificationCenter::defaultCenter().addObserver(NotificationName::UserLogouted, nullptr,
                                                    [this](const Notification& n) { userLogout(n); });
}

void ClipController::startClipObserver()
{
    m_timer.stop();
    m_timer.setInterval(m_intervalOverride.value_or(intervalFromSettings()));
    m_timer.start();
    seekClipboard();
}

void ClipController::setPollInterval(std::optional<std::chrono::milliseconds> interval)
{
    m_intervalOverride = interval;
    startClipObserver();
}

std::chrono::milliseconds ClipController::pollInterval() const
{
    return m_timer.intervalAsDuration();
}

void ClipController::seekClipboard()
{
    Pasteboard& pasteboard = Pasteboard::general();
    const qint64 count = pasteboard.changeCount();
    if (count == 0)
        return;
    if (m_lastChangedCount != 0 && m_lastChangedCount == count)
        return;
    m_captureQueue.async([this, snapshot = pasteboard.snapshot()] {
        if (catchSnapshot(snapshot))
            dispatch::mainAsync([] { MenuController::sharedInstance().buildMenu(); });
    });
    m_lastChangedCount = count;
}

bool ClipController::catchClipboard()
{
    if (!dispatch::isMainThread()) {
        spdlog::error("catchClipboard off the main thread: nothing captured");
        return false;
    }
    const PasteboardSnapshot snapshot = Pasteboard::general().snapshot();
    bool saved = false;
    m_captureQueue.sync([&] { saved = catchSnapshot(snapshot); });
    return saved;
}

void ClipController::userLogout(const Notification& notification)
{
    // The service ended the login: the history waits for the user's next login.
    if (notification.userInfo.value(QString(NotificationKey::KeepsHistory)).toBool())
        return;
    const PasteboardSnapshot snapshot = Pasteboard::general().snapshot();
    // On the capture queue, so a capture queued before the logout cannot store its clip
    // after the purge.
    m_captureQueue.sync([&] {
        {
            QMutexLocker lock(&ClipFileManager::bodyLock());
            ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::removeAllData());
        }
        forgetCapturedImages();
        // Copied under no login: it must not go to whichever account logs in next.
        m_captureUnmarked = true;
        catchSnapshot(snapshot);
        m_captureUnmarked = false;
    });
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
}

void ClipController::waitForCaptures()
{
    m_captureQueue.sync([] {});
}

void ClipController::resetForTests()
{
    waitForCaptures();
    m_timer.stop();
    m_lastChangedCount = 0;
    m_intervalOverride.reset();
    forgetCapturedImages();
    QMutexLocker lock(&m_skipedLock);
    m_skiped.reset();
}

void ClipController::forgetCapturedImages()
{
    QMutexLocker lock(&m_capturedImagesLock);
    m_capturedImages.clear();
}

bool ClipController::catchSnapshot(const PasteboardSnapshot& snapshot)
{
    if (snapshot.itemCount() == 0)
        return false;
    // The first body offered, in the table's order, is the clip. A refused file never falls
    // back to the text or image of the same copy: a file manager also offers a copied
    // folder's name as text.
    for (const ClipKindUi& row : kClipKindUi) {
        switch (row.body) {
        case ClipBody::File:
            if (!snapshot.filePaths().isEmpty())
                return catchFile(snapshot.filePaths().first());
            break;
        case ClipBody::Text:
            if (snapshot.string() && !snapshot.string()->isEmpty())
                return catchText(*snapshot.string());
            break;
        case ClipBody::Image:
            if (snapshot.hasImage())
                return catchImage(snapshot);
            break;
        }
    }
    return false;
}

bool ClipController::catchFile(const QByteArray& path)
{
    // Hashed while it is copied, and stored from that copy: a file that changes meanwhile
    // cannot leave a body whose digest is not its name. Only a regular file is read (a FIFO
    // or device would block the capture queue), and the read stops past the clip body limit,
    // whatever size the system reports (a /proc file reports 0 and never ends).
    std::optional<StagedFile> staged = StagedFile::copyOf(path);
    if (!staged)
        return false;
    // A clip of nothing is not kept: the start-up schema step drops rows of the empty hash.
    if (staged->size() == 0) {
        spdlog::info("file not captured: it is empty (0 bytes)");
        return false;
    }
    const QString hash = staged->md5();
    // The bytes of the path go to the file system as they are; its text (invalid UTF-8
    // replaced) names the clip.
    const QString name = QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
    QString extension = pathExtension(name);
    if (extension.isEmpty())
        extension = QStringLiteral("unknow");

    const std::optional<bool> secret =
        verdict(ClipKind::File, extension, QFile::decodeName(path), [] { return Utils::isFileAsSecert(); });
    if (!secret)
        return false;
    if (isIncoming(hash))
        return false;

    HistoryModel record;
    record.setContent(name);
    record.setType(
        ClipType::of(ClipKind::File, extension).with(ClipKind::ModifierZip).with(ClipKind::ModifierEnc).toString());
    record.setFile_hash(hash);
    record.setFile_name(name);
    record.setLocal_file_ok(QVariant(1));
    record.setSecert(QVariant(*secret));
    // A body that could not be copied or zipped still gets its row.
    return saveRecord(record, [&] { ClipFileManager::sharedInstance().saveClipFile(*staged, record); });
}

bool ClipController::catchText(const QString& copied)
{
    // Our own write with recording off comes back once; the check comes before the verdict.
    if (clearSkipedIfEqual(copied))
        return false;
    // A text clip is the text up to its first NUL, as its hash is on every device: texts that
    // differ only after a NUL are one clip, whose body is that part and nothing more.
    const QString text = textUpToNul(copied);
    if (text.isEmpty()) {
        spdlog::info("text not captured: nothing comes before its first NUL");
        return false;
    }
    const std::optional<bool> secret =
        verdict(ClipKind::Text, QString(), text, [&] { return Utils::isSecret(text); });
    if (!secret)
        return false;
    const QString hash = md5HexOfString(text);
    if (isIncoming(hash))
        return false;

    HistoryModel record;
    record.setContent(clipTextSummary(text));
    record.setType(ClipType::parse(Utils::typeFromString(text)).with(ClipKind::ModifierEnc).toString());
    record.setFile_hash(hash);
    record.setLocal_file_ok(QVariant(1));
    record.setSecert(QVariant(*secret));
    const QByteArray body = text.toUtf8();
    return saveRecord(record, [&] { ClipFileManager::sharedInstance().saveClipData(body, record); });
}

bool ClipController::catchImage(const PasteboardSnapshot& snapshot)
{
    const std::optional<QByteArray> tiff = snapshot.tiffRepresentation();
    if (!tiff || tiff->isEmpty()) {
        spdlog::warn("image not captured: it could not be decoded or encoded as TIFF");
        return false;
    }
    const ClipType type =
        ClipType::parse(QString(ClipKind::ImageData)).with(ClipKind::ModifierZip).with(ClipKind::ModifierEnc);
    const std::optional<bool> secret =
        verdict(type.kindName(), type.extension(), QStringLiteral("image data"), [] { return false; });
    if (!secret)
        return false;
    const QString hash = md5HexOfData(*tiff);
    if (isIncoming(hash))
        return false;
    // Without a thumbnail the row could not be stored (content is required).
    const std::optional<QString> thumbnail = imageThumbnailBase64(*tiff);
    if (!thumbnail) {
        spdlog::warn("image {} not captured: no thumbnail could be made", hash.toStdString());
        return false;
    }

    HistoryModel record;
    record.setContent(*thumbnail);
    record.setType(type.toString());
    record.setFile_hash(hash);
    record.setLocal_file_ok(QVariant(1));
    record.setSecert(QVariant(*secret));
    if (!saveRecord(record, [&] { ClipFileManager::sharedInstance().saveClipData(*tiff, record); }))
        return false;
    rememberCapturedImage(hash, snapshot.encodedImage());
    return true;
}

void ClipController::rememberCapturedImage(const QString& hash, const QByteArray& encoded)
{
    // A few recent pictures, each no larger than a screenshot's PNG, so memory stays bounded.
    constexpr qsizetype kMaxBytes = 32 * 1024 * 1024;
    constexpr size_t kMaxImages = 3;
    if (encoded.isEmpty() || encoded.size() > kMaxBytes)
        return;
    QMutexLocker lock(&m_capturedImagesLock);
    std::erase_if(m_capturedImages, [&](const auto& kept) { return kept.first == hash; });
    m_capturedImages.insert(m_capturedImages.begin(), {hash, encoded});
    if (m_capturedImages.size() > kMaxImages)
        m_capturedImages.resize(kMaxImages);
}

std::optional<QByteArray> ClipController::capturedImage(const QString& hash) const
{
    QMutexLocker lock(&m_capturedImagesLock);
    for (const auto& [keptHash, bytes] : m_capturedImages)
        if (keptHash == hash)
            return bytes;
    return std::nullopt;
}

bool ClipController::saveRecord(HistoryModel& record, const std::function<void()>& saveBody)
{
    // A file another process held locked at start may be free by now.
    DBFetcher::sharedInstance().retryOpenIfDue();
    // Opened and laid out before the body is written: a file that must go aside as damaged
    // takes the body folders with it, and this body belongs to the new history.
    HistoryModel::initialize();
    bool stored = false;
    {
        // The body and its row together, so a delete of the same hash cannot come between
        // them and leave a row without a body.
        QMutexLocker lock(&ClipFileManager::bodyLock());
        saveBody();
        const QVariant now(QDateTime::currentSecsSinceEpoch());
        // The row, its time and its pending mark are one change: one commit, one disk sync.
        stored = HistoryModel::inTransaction([&](QSqlDatabase& db) {
            // An existing row keeps its content, type and secret flag.
            const bool rowWritten =
                record.isExist(db) ? DBKeeper::setLocalFileOkWithHash(db, record.file_hash()) : record.save(db);
            return rowWritten && DBKeeper::updateTimestamp(db, now, record.file_hash())
                && (m_captureUnmarked || record.increase_change_count(db));
        });
    }
    if (!stored)
        return false;
    UploadTriggers::wakeAll();
    return true;
}

void ClipController::sendToClipboard(const HistoryModelPtr& clip, const PluginObjectPtr& plugin, bool record)
{
    if (!clip)
        return;
    Pasteboard& pasteboard = Pasteboard::general();
    ClipFileManager& files = ClipFileManager::sharedInstance();
    const QString hash = clip->file_hash().value_or(QString());
    const std::optional<ClipBody> body = clipBodyOf(clip->type());
    if (!body)
        return;

    switch (*body) {
    case ClipBody::Text: {
        // Emptied first: a body that cannot be read, or a plugin that gives nothing, leaves
        // the pasteboard empty rather than holding the previous clip.
        pasteboard.clearContents();
        std::optional<QString> text = files.getStringWithMd5(hash);
        if (plugin) {
            if (text)
                text = PluginManager::sharedInstance().processText(*text, plugin);
            if (!text || text->isEmpty())
                return;
        }
        if (!text)
            return;
        if (!record)
            setSkiped(*text);
        pasteboard.writeString(*text);
        break;
    }
    case ClipBody::Image: {
        // The stored TIFF has the picture converted to sRGB; the captured file, where it is
        // still at hand, is what the user copied.
        std::optional<QByteArray> data = capturedImage(hash);
        if (!data)
            data = files.getDataWithMd5(hash);
        pasteboard.clearContents();
        if (data)
            pasteboard.writeImageData(*data);
        break;
    }
    case ClipBody::File: {
        const QString link = files.makePreviewLink(*clip);
        pasteboard.clearContents();
        if (!link.isEmpty())
            pasteboard.writeFileURL(link);
        break;
    }
    }
}

void ClipController::sendToClipboard(const HistoryModelPtr& clip, const PluginObjectPtr& plugin)
{
    sendToClipboard(clip, plugin, true);
}

void ClipController::sendToClipboard(const QString& string, bool record)
{
    if (string.isEmpty())
        return;
    if (!record)
        setSkiped(string);
    Pasteboard::general().writeString(string);
}

void ClipController::paste()
{
    // After the write in hand, so the front application reads the new content.
    dispatch::mainAsync([] { postCommandV(); });
}

std::optional<QString> ClipController::skiped() const
{
    QMutexLocker lock(&m_skipedLock);
    return m_skiped;
}

void ClipController::setSkiped(const QString& text)
{
    QMutexLocker lock(&m_skipedLock);
    m_skiped = text;
}

bool ClipController::clearSkipedIfEqual(const QString& text)
{
    QMutexLocker lock(&m_skipedLock);
    if (!m_skiped || *m_skiped != text)
        return false;
    m_skiped.reset();
    return true;
}
