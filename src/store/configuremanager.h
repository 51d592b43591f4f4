#pragma once

#include <QMutex>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Holder of the account state, the incoming-clip hash and the privacy key words.
// Reached from the main thread, the capture queue and the network queues: one lock.
class ConfigureManager {
public:
    static ConfigureManager& sharedInstance();

    // The eight built-in key words followed by the user's, joined by "|".
    QString keyWordsRegPattern();
    // The pattern compiled case-insensitively; rebuilt only when the words change.
    QRegularExpression keyWordsRegExp();

    static const QStringList& builtinKeyWords();

private:
    ConfigureManager() = default;
    void rebuildLocked(const QStringList& userWords);

    QMutex m_mutex;
    bool m_built = false;
    QStringList m_words;
    QString m_pattern;
    QRegularExpression m_regExp;
};
