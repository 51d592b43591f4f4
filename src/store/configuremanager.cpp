#include "store/configuremanager.h"

#include "store/clipuserdefaults.h"

namespace {
const QString kUserKeyWords = QStringLiteral("userKeyWords");
}

ConfigureManager& ConfigureManager::sharedInstance()
{
    static ConfigureManager instance;
    return instance;
}

const QStringList& ConfigureManager::builtinKeyWords()
{
    static const QStringList words{QStringLiteral("名"), QStringLiteral("卡"), QStringLiteral("号"),
                                   QStringLiteral("账"), QStringLiteral("码"), QStringLiteral("password"),
                                   QStringLiteral("account"), QStringLiteral("username")};
    return words;
}

void ConfigureManager::rebuildLocked(const QStringList& userWords)
{
    QStringList parts = builtinKeyWords();
    // The user's words are plain words: a typed "?" must not break every other word.
    // An empty word would match every text.
    for (const QString& w : userWords)
        if (!w.isEmpty())
            parts << QRegularExpression::escape(w);
    m_words = userWords;
    m_pattern = parts.join(QLatin1Char('|'));
    m_regExp = QRegularExpression(m_pattern, QRegularExpression::CaseInsensitiveOption);
    m_built = true;
}

QString ConfigureManager::keyWordsRegPattern()
{
    const QStringList words = ClipUserDefaults::standardUserDefaults().stringList(kUserKeyWords);
    QMutexLocker lock(&m_mutex);
    if (!m_built || words != m_words)
        rebuildLocked(words);
    return m_pattern;
}

QRegularExpression ConfigureManager::keyWordsRegExp()
{
    const QStringList words = ClipUserDefaults::standardUserDefaults().stringList(kUserKeyWords);
    QMutexLocker lock(&m_mutex);
    if (!m_built || words != m_words)
        rebuildLocked(words);
    return m_regExp;
}
