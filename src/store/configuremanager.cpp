#include "store/configuremanager.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/usernotifications.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "store/tombstones.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <QFileInfo>

#include <spdlog/spdlog.h>

namespace {

const QString kLoginUserToken = DefaultsKey::LoginUserToken;
const QString kLoginUserId = DefaultsKey::LoginUserId;
const QString kLoginUserEmail = DefaultsKey::LoginUserEmail;
const QString kUserKeyWords = DefaultsKey::UserKeyWords;
const QString kLastPullRequestTime = DefaultsKey::LastPullRequestTime;
const QString kHistoryKeptForUserId = DefaultsKey::HistoryKeptForUserId;

QVariant stored(const std::optional<QString>& value)
{
    return value ? QVariant(*value) : QVariant();
}

void storeValue(const QString& key, const std::optional<QString>& value)
{
    ClipUserDefaults::standardUserDefaults().setValue(key, stored(value));
}

// Empties a folder of the library; a symbolic link in its place is removed, never followed.
void emptyFolder(const QString& folder)
{
    if (folder.isEmpty())
        return;
    if (QFileInfo(folder).isSymLink()) {
        QFile::remove(folder);
        return;
    }
    QDir(folder).removeRecursively();
}

}  // namespace

namespace {
std::atomic<ConfigureManager*> g_sharedInstance{nullptr};
}  // namespace

ConfigureManager& ConfigureManager::sharedInstance()
{
    static ConfigureManager instance;
    g_sharedInstance.store(&instance);
    return instance;
}

void ConfigureManager::resetSharedInstanceIfMadeForTests()
{
    if (ConfigureManager* made = g_sharedInstance.load())
        made->resetForTests();
}

ConfigureManager::ConfigureManager()
{
    load();
}

void ConfigureManager::resetForTests()
{
    load();
}

void ConfigureManager::load()
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    QMutexLocker lock(&m_mutex);
    m_token = defaults.string(kLoginUserToken);
    m_userId = defaults.string(kLoginUserId);
    m_email = defaults.string(kLoginUserEmail);
    m_incommingHash.reset();
    m_costlyWords.clear();
    m_built = false;
    syncWordsLocked();
}

const QStringList& ConfigureManager::builtinKeyWords()
{
    static const QStringList words{QStringLiteral("名"), QStringLiteral("卡"), QStringLiteral("号"),
                                   QStringLiteral("账"), QStringLiteral("码"), QStringLiteral("password"),
                                   QStringLiteral("account"), QStringLiteral("username")};
    return words;
}

std::optional<QString> ConfigureManager::loginUserToken() const
{
    QMutexLocker lock(&m_mutex);
    return m_token;
}

std::optional<QString> ConfigureManager::loginUserId() const
{
    QMutexLocker lock(&m_mutex);
    return m_userId;
}

std::optional<QString> ConfigureManager::loginUserEmail() const
{
    QMutexLocker lock(&m_mutex);
    return m_email;
}

void ConfigureManager::setLoginUserToken(const std::optional<QString>& token)
{
    {
        QMutexLocker lock(&m_mutex);
        m_token = token;
        storeValue(kLoginUserToken, token);
        ++m_loginEpoch;
    }
    if (token) {
        NotificationCenter::defaultCenter().postOnMain(NotificationName::UserLogined);
        return;
    }
    ClipUserDefaults::standardUserDefaults().remove(kHistoryKeptForUserId);
    logoutPurge();
    forgetPullBookmark();
    NotificationCenter::defaultCenter().postOnMain(NotificationName::UserLogouted);
}

void ConfigureManager::setLogin(const QString& token, const QString& userId, const QString& email)
{
    settleKeptHistory(userId);
    // Deletes owed by another account are never this one's to send (one kept by an older
    // build across a logout, too).
    Tombstones::removeAllBut(userId);
    bool otherUser = false;
    {
        QMutexLocker lock(&m_mutex);
        otherUser = m_userId != userId;
        m_token = token;
        m_userId = userId;
        m_email = email;
        storeValue(kLoginUserId, userId);
        storeValue(kLoginUserEmail, email);
        storeValue(kLoginUserToken, token);
        // A reply sent under the login before this one writes nothing into this one.
        ++m_loginEpoch;
    }
    // Another account's history starts from nothing, with or without a logout between.
    if (otherUser)
        forgetPullBookmark();
    NotificationCenter::defaultCenter().postOnMain(NotificationName::UserLogined);
}

bool ConfigureManager::loginEndedByService(const QString& sentToken)
{
    {
        QMutexLocker lock(&m_mutex);
        // Only the login the reply was sent for ends, never a newer one.
        if (sentToken.isEmpty() || m_token != sentToken)
            return false;
        m_token.reset();
        storeValue(kLoginUserToken, std::nullopt);
        ++m_loginEpoch;
        ClipUserDefaults::standardUserDefaults().setValue(kHistoryKeptForUserId, m_userId.value_or(QString()));
    }
    // An expired token is no choice of the user's: clips never uploaded and secret ones stay,
    // and the pull bookmark with them, until the user says which account logs in next.
    spdlog::info("the service ended the login; the local history is kept");
    UserNotification notice;
    notice.title = QStringLiteral("登录已失效");
    notice.informativeText = QStringLiteral("请在偏好设置中重新登录。本机的历史记录已保留, 登录同一账号后继续同步。");
    UserNotifications::current().deliverNotification(notice);
    NotificationCenter::defaultCenter().postOnMain(NotificationName::UserLogouted, {},
                                                   {{QString(NotificationKey::KeepsHistory), true}});
    return true;
}

void ConfigureManager::loginEndedByServiceLater(const QString& sentToken)
{
    dispatch::mainAsync([sentToken] { sharedInstance().loginEndedByService(sentToken); });
}

std::optional<QString> ConfigureManager::historyKeptForUserId() const
{
    return ClipUserDefaults::standardUserDefaults().string(kHistoryKeptForUserId);
}

void ConfigureManager::purgeKeptHistory()
{
    if (!historyKeptForUserId())
        return;
    logoutPurge();
    forgetPullBookmark();
    ClipUserDefaults::standardUserDefaults().remove(kHistoryKeptForUserId);
    NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
}

void ConfigureManager::settleKeptHistory(const QString& userId)
{
    const std::optional<QString> kept = historyKeptForUserId();
    if (!kept)
        return;
    // The login pane asked before another account logged in; this is the last guard, for an
    // account whose id differs although its e-mail did not.
    if (*kept != userId) {
        spdlog::info("another account logged in: the kept history is removed");
        logoutPurge();
        forgetPullBookmark();
        NotificationCenter::defaultCenter().postOnMain(NotificationName::DataChanged);
    }
    ClipUserDefaults::standardUserDefaults().remove(kHistoryKeptForUserId);
}

std::optional<ConfigureManager::Login> ConfigureManager::currentLogin() const
{
    QMutexLocker lock(&m_mutex);
    if (!m_token || m_token->isEmpty())
        return std::nullopt;
    return Login{*m_token, m_userId, m_email};
}

void ConfigureManager::forgetPullBookmark()
{
    // The bookmark is how far this login's history was pulled. The purge above took those
    // clips, and the next login (this account or another) must pull what its server holds.
    ClipUserDefaults::standardUserDefaults().remove(kLastPullRequestTime);
}

void ConfigureManager::logoutPurge()
{
    // A purge is never a reply's write: a login scope of this thread must not skip it.
    DBFetcher::BlockCondition unscoped([] { return true; });
    // Under the body lock, so a capture cannot store a row and its body between the two.
    QMutexLocker lock(&ClipFileManager::bodyLock());
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::removeAllData());
    // The deletes still owed go with the history they were made in: a login of any account
    // starts from what its service holds.
    Tombstones::removeAll();
    // No row is left, so no body is in use: nothing of any clip, secret ones included, may
    // survive the logout as a file nobody knows about.
    emptyFolder(PathHelper::getBaseFilePath());
    emptyFolder(PathHelper::getZipsFilePath());
    emptyFolder(PathHelper::getEncFilePath());
    emptyFolder(PathHelper::getPreviewsFilePath());
}

void ConfigureManager::setLoginUserId(const std::optional<QString>& userId)
{
    bool changed = false;
    {
        QMutexLocker lock(&m_mutex);
        changed = m_userId != userId;
        m_userId = userId;
        storeValue(kLoginUserId, userId);
    }
    // Another account's history starts from nothing, with or without a logout between.
    if (changed)
        forgetPullBookmark();
}

void ConfigureManager::setLoginUserEmail(const std::optional<QString>& email)
{
    QMutexLocker lock(&m_mutex);
    m_email = email;
    storeValue(kLoginUserEmail, email);
}

bool ConfigureManager::isLogined() const
{
    QMutexLocker lock(&m_mutex);
    return m_token && !m_token->isEmpty();
}

std::optional<QString> ConfigureManager::incommingHash() const
{
    QMutexLocker lock(&m_mutex);
    return m_incommingHash;
}

void ConfigureManager::setIncommingHash(const std::optional<QString>& hash)
{
    QMutexLocker lock(&m_mutex);
    m_incommingHash = hash;
}

bool ConfigureManager::clearIncommingHashIfEqual(const QString& hash)
{
    QMutexLocker lock(&m_mutex);
    if (!m_incommingHash || *m_incommingHash != hash)
        return false;
    m_incommingHash.reset();
    return true;
}

QStringList ConfigureManager::customKeyWords()
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    return m_words;
}

bool ConfigureManager::addNewWord(const QString& word)
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    if (m_words.size() >= kMaxCustomKeyWords)
        return false;
    if (!word.isEmpty())
        storeWordsLocked(m_words + QStringList{word});
    return true;
}

void ConfigureManager::setKeyWord(const QString& word, qsizetype index)
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    if (word.isEmpty() || index < 0 || index >= m_words.size())
        return;
    QStringList words = m_words;
    words[index] = word;
    storeWordsLocked(words);
}

void ConfigureManager::removeKeyWordAtIndex(qsizetype index)
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    if (index < 0 || index >= m_words.size())
        return;
    QStringList words = m_words;
    words.removeAt(index);
    storeWordsLocked(words);
}

void ConfigureManager::storeWordsLocked(const QStringList& userWords)
{
    ClipUserDefaults::standardUserDefaults().setValue(kUserKeyWords, userWords);
    rebuildLocked(userWords);
}

void ConfigureManager::syncWordsLocked()
{
    const QStringList words = ClipUserDefaults::standardUserDefaults().stringList(kUserKeyWords);
    if (!m_built || words != m_words)
        rebuildLocked(words);
}

void ConfigureManager::rebuildLocked(const QStringList& userWords)
{
    QStringList parts;
    QList<KeyWordRegExp> regExps;
    // Wrapped, so a word's own "(*LIMIT_MATCH=...)" is no option at the start and cannot lift
    // the limit again (it then fails to compile and is matched literally).
    const auto compile = [](const QString& part) {
        return QRegularExpression(QStringLiteral("(*LIMIT_MATCH=%1)(?:%2)").arg(kKeyWordMatchLimit).arg(part),
                                  QRegularExpression::CaseInsensitiveOption);
    };
    const auto add = [&](const QString& word, qsizetype userIndex) {
        const QRegularExpression alone(word);
        QRegularExpression re = compile(word);
        QString part = word;
        if (!alone.isValid() || !re.isValid()) {
            // A typed "?" or "(" must not switch the other words off: that word alone is
            // taken as plain text. The word itself stays out of the log file.
            const QString why = alone.isValid() ? QStringLiteral("an engine option") : alone.errorString();
            spdlog::warn("key word {} is not a valid pattern ({}); matched literally", userIndex + 1,
                         why.toStdString());
            part = QRegularExpression::escape(word);
            re = compile(part);
        }
        re.optimize();  // compiled once here, not by the first capture that matches
        parts << part;
        regExps << KeyWordRegExp{re, word, parts.size()};
    };
    for (const QString& w : builtinKeyWords())
        add(w, -1);
    // An empty word would match every text.
    for (qsizetype i = 0; i < userWords.size(); ++i)
        if (!userWords[i].isEmpty())
            add(userWords[i], i);
    m_words = userWords;
    m_pattern = parts.join(QLatin1Char('|'));
    m_regExps = regExps;
    // A word edited or removed is no longer given up on.
    m_costlyWords.removeIf([&](const QString& w) { return !userWords.contains(w); });
    m_built = true;
}

QString ConfigureManager::keyWordsRegPattern()
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    return m_pattern;
}

QList<ConfigureManager::KeyWordRegExp> ConfigureManager::keyWordsRegExps()
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    return m_regExps;
}

void ConfigureManager::noteCostlyKeyWord(const QString& word)
{
    QMutexLocker lock(&m_mutex);
    if (!m_costlyWords.contains(word))
        m_costlyWords << word;
}

QStringList ConfigureManager::costlyKeyWords()
{
    QMutexLocker lock(&m_mutex);
    syncWordsLocked();
    QStringList costly;
    for (const QString& w : std::as_const(m_words))
        if (m_costlyWords.contains(w) && !costly.contains(w))
            costly << w;
    return costly;
}
