#pragma once

#include <QMutex>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

// Holder of the account state (login token, user id, e-mail), the hash of a clip another
// device is putting on the pasteboard, and the privacy key words.
//
// Reached from the main thread, the capture queue and the network queues: one lock over the
// fields; accessors return copies. Login and logout are announced with "USER_LOGINED" and
// "USER_LOGOUTED", always posted to the main queue, so observers run after the caller is done.
class ConfigureManager {
public:
    static ConfigureManager& sharedInstance();

    std::optional<QString> loginUserToken() const;
    std::optional<QString> loginUserId() const;
    std::optional<QString> loginUserEmail() const;
    // Stores the token ("loginUserToken"; none removes it). With a token (an empty one too):
    // posts "USER_LOGINED". With none: the logout purge on the calling thread (every row of
    // both categories, every clip file and every delete still owed to the service), the pull
    // bookmark forgotten, then "USER_LOGOUTED". The user's logout sends the owed deletes
    // first (sync/userlogout.h).
    void setLoginUserToken(const std::optional<QString>& token);
    // A user id other than the stored one also forgets the pull bookmark.
    void setLoginUserId(const std::optional<QString>& userId);
    void setLoginUserEmail(const std::optional<QString>& email);
    // A login: the token, the user id and the e-mail stored together, then "USER_LOGINED", so
    // nobody ever reads the new token with the previous user's id. History kept for another
    // user id is purged first, and no other account's owed delete is kept.
    void setLogin(const QString& token, const QString& userId, const QString& email);
    // The service no longer accepts the login this token names (a "token_expire" in any reply
    // of the service, a 401 from a token endpoint). When it is still the stored token, the
    // login ends as a logout does, but the local history, its pending changes and the deletes
    // still owed stay for that account's next login: the user is told in words, and
    // "USER_LOGOUTED" carries NotificationKey::KeepsHistory. False when another login (or
    // none) holds now.
    bool loginEndedByService(const QString& sentToken);
    // The same on the main queue: a reply asks from inside its login scope, and nothing of a
    // logout may run under that scope.
    static void loginEndedByServiceLater(const QString& sentToken);
    // The user id whose history was kept when the service ended its login; none when nothing
    // is kept.
    std::optional<QString> historyKeptForUserId() const;
    // The user agreed that another account logs in where an ended login's history was kept:
    // the logout purge (its owed deletes too), and nothing is kept any more.
    void purgeKeptHistory();
    struct Login {
        QString token;
        std::optional<QString> userId;
        std::optional<QString> email;
    };
    // The login values as one snapshot; none when logged out.
    std::optional<Login> currentLogin() const;
    // A non-empty token is stored.
    bool isLogined() const;
    // Advanced by every login and logout (setLogin and each setLoginUserToken), before the
    // logout purge. A sync request keeps the value it was sent under; its reply may write only
    // while it holds.
    quint64 loginEpoch() const { return m_loginEpoch.load(); }
    bool isLoginEpoch(quint64 epoch) const { return m_loginEpoch.load() == epoch; }

    std::optional<QString> incommingHash() const;
    void setIncommingHash(const std::optional<QString>& hash);
    // When the incoming hash equals the given one: clears it and answers true, in one step.
    bool clearIncommingHashIfEqual(const QString& hash);

    // The eight built-in key words.
    static const QStringList& builtinKeyWords();
    const QStringList& sysKeyWords() const { return builtinKeyWords(); }
    // The user's words ("userKeyWords"), at most 25.
    QStringList customKeyWords();
    // NO when 25 words are kept already; otherwise YES, and a non-empty word is appended.
    bool addNewWord(const QString& word);
    // Replaces the word at the index with a non-empty word; out of range does nothing.
    void setKeyWord(const QString& word, qsizetype index);
    void removeKeyWordAtIndex(qsizetype index);

    // The built-in words followed by the user's, joined by "|". Each word is a pattern of
    // its own ("\d{16}" marks card numbers); a word that does not compile on its own
    // stands there escaped, matched literally. The empty word is left out.
    QString keyWordsRegPattern();
    // One word of the pattern, compiled on its own, case-insensitively, so one bad word never
    // switches the others off, and under the engine's match limit, so one costly word
    // (nested repeats) gives up quickly instead of holding up the capture.
    struct KeyWordRegExp {
        QRegularExpression regExp;
        QString word;
        // Its place in the pattern, from 1: what the log names, never the word itself.
        qsizetype position = 0;
    };
    // Rebuilt only when the words change.
    QList<KeyWordRegExp> keyWordsRegExps();

    // A word whose match the engine gave up on: the Privacy pane says so.
    void noteCostlyKeyWord(const QString& word);
    // The user's words given up on in this run, in list order.
    QStringList costlyKeyWords();

    static constexpr int kMaxCustomKeyWords = 25;
    // Backtracking steps the regular-expression engine may take for one word over one text:
    // a plain word needs far fewer even over 4096 characters, while nested repeats run into
    // it within a millisecond or so.
    static constexpr int kKeyWordMatchLimit = 100000;

    // Tests only: as newly made from the settings store in use now (login values and key
    // words read again, no incoming hash).
    void resetForTests();
    // Tests only: resetForTests on the shared instance if it has been made; never makes it.
    static void resetSharedInstanceIfMadeForTests();

private:
    ConfigureManager();
    // The login values and key words from the settings store; no incoming hash.
    void load();
    // The stored list is the user's words: adopts it when it changed, rebuilding the pattern.
    void syncWordsLocked();
    void rebuildLocked(const QStringList& userWords);
    void storeWordsLocked(const QStringList& userWords);
    void logoutPurge();
    // A login of this user id: history kept from an ended login stays when it is this user's,
    // and is purged when it is another's.
    void settleKeptHistory(const QString& userId);
    // Removes "lastPullRequestTime", so the next pull asks for everything the server holds.
    void forgetPullBookmark();

    // Lock order: m_mutex, then the settings store's lock. The logout purge runs without it
    // (it takes ClipFileManager::bodyLock(), then the database queue).
    mutable QMutex m_mutex;
    std::optional<QString> m_token;
    std::optional<QString> m_userId;
    std::optional<QString> m_email;
    std::optional<QString> m_incommingHash;
    std::atomic<quint64> m_loginEpoch{1};
    bool m_built = false;
    QStringList m_words;
    QString m_pattern;
    QList<KeyWordRegExp> m_regExps;
    QStringList m_costlyWords;
};
