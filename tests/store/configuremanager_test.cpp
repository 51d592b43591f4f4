#include "historytestsupport.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "support/mainqueue.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace historytest;

namespace {

ConfigureManager& config()
{
    return ConfigureManager::sharedInstance();
}

UserDefaults& defaults()
{
    return ClipUserDefaults::standardUserDefaults();
}

// Counts a notification delivered on the main thread.
class Counter {
public:
    explicit Counter(const char* name)
    {
        m_token = NotificationCenter::defaultCenter().addObserver(QString::fromLatin1(name), nullptr,
                                                                  [this](const Notification&) {
                                                                      EXPECT_TRUE(dispatch::isMainThread());
                                                                      ++m_count;
                                                                  });
    }
    ~Counter() { NotificationCenter::defaultCenter().removeObserver(m_token); }
    int count() const { return m_count; }

private:
    NotificationCenter::Token m_token = 0;
    std::atomic<int> m_count{0};
};

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

class AccountState : public HistoryDbTest {};

// The first use reads what an earlier run stored, and announces nothing.
TEST_F(AccountState, StartRestoresTheStoredStateWithoutNotifications)
{
    defaults().setValue("loginUserToken", "t0");
    defaults().setValue("loginUserId", "u0");
    defaults().setValue("loginUserEmail", "e0@example.com");
    defaults().setValue("userKeyWords", QStringList{"alpha", "beta"});
    Counter login("USER_LOGINED");
    config().resetForTests();  // the start of the next run
    EXPECT_EQ(config().loginUserToken(), "t0");
    EXPECT_EQ(config().loginUserId(), "u0");
    EXPECT_EQ(config().loginUserEmail(), "e0@example.com");
    EXPECT_TRUE(config().isLogined());
    EXPECT_EQ(config().customKeyWords(), (QStringList{"alpha", "beta"}));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(login.count(), 0);
}

TEST_F(AccountState, LoginStoresTheValuesAndIsAnnouncedLaterOnTheMainQueue)
{
    Counter login("USER_LOGINED");
    config().setLoginUserToken(QStringLiteral("token-1"));
    config().setLoginUserId(QStringLiteral("42"));
    config().setLoginUserEmail(QStringLiteral("a@example.com"));
    EXPECT_EQ(login.count(), 0);  // not before the caller has set id and e-mail
    EXPECT_TRUE(testenv::waitUntil([&] { return login.count() == 1; }));
    EXPECT_EQ(defaults().string("loginUserToken"), "token-1");
    EXPECT_EQ(defaults().string("loginUserId"), "42");
    EXPECT_EQ(defaults().string("loginUserEmail"), "a@example.com");
    EXPECT_TRUE(config().isLogined());

    // An empty token is still a login for the notification, but not logged in.
    config().setLoginUserToken(QStringLiteral(""));
    EXPECT_FALSE(config().isLogined());
    EXPECT_TRUE(testenv::waitUntil([&] { return login.count() == 2; }));

    config().setLoginUserEmail(std::nullopt);
    EXPECT_FALSE(defaults().contains("loginUserEmail"));
    EXPECT_FALSE(config().loginUserEmail());
}

// Logout removes every row and every clip file (orphans and secret clips included), keeps id
// and e-mail, and is announced after the call has returned.
TEST_F(AccountState, LogoutPurgesHistoryAndFilesAndIsAnnouncedAfterwards)
{
    config().setLoginUserToken(QStringLiteral("t"));
    config().setLoginUserId(QStringLiteral("7"));
    config().setLoginUserEmail(QStringLiteral("me@example.com"));
    auto& files = ClipFileManager::sharedInstance();
    for (int i = 0; i < 3; ++i) {
        const QByteArray bytes = QByteArray("body ") + QByteArray::number(i);
        auto clip = std::make_shared<HistoryModel>();
        clip->setContent(QStringLiteral("c"));
        clip->setFile_hash(md5HexOfData(bytes));
        clip->setType(QStringLiteral("image_data+zip+enc"));
        clip->setFile_name(QStringLiteral("f%1.png").arg(i));
        clip->setKey_hash(QStringLiteral("K"));
        clip->setSecert(i == 0);
        clip->setCategory(i == 2 ? QStringLiteral("favourite") : QStringLiteral("history"));
        files.saveClipData(bytes, *clip);
        clip->save();
        files.makePreviewLink(*clip);
        QFile enc(PathHelper::getEncFilePath(*clip->encryptFileName()));
        ASSERT_TRUE(enc.open(QIODevice::WriteOnly));
    }
    // A body no row knows about.
    files.saveString(QStringLiteral("orphan"), md5HexOfString(QStringLiteral("orphan")));

    Counter logout("USER_LOGOUTED");
    config().setLoginUserToken(std::nullopt);
    EXPECT_EQ(logout.count(), 0);
    EXPECT_FALSE(config().isLogined());
    EXPECT_FALSE(defaults().contains("loginUserToken"));
    EXPECT_EQ(defaults().string("loginUserId"), "7");
    EXPECT_EQ(defaults().string("loginUserEmail"), "me@example.com");
    EXPECT_EQ(config().loginUserId(), "7");
    EXPECT_EQ(RawDb(dbPath()).scalar("select count(*) from History").toInt(), 0);
    for (const QString& folder : {PathHelper::getBaseFilePath(), PathHelper::getZipsFilePath(),
                                  PathHelper::getEncFilePath(), PathHelper::getPreviewsFilePath()})
        EXPECT_TRUE(entriesOf(folder).isEmpty()) << folder.toStdString() << ": " << entriesOf(folder).join(' ').toStdString();
    EXPECT_TRUE(QFile::exists(dbPath()));
    EXPECT_TRUE(testenv::waitUntil([&] { return logout.count() == 1; }));

    // Already logged out: purges and announces again.
    config().setLoginUserToken(std::nullopt);
    EXPECT_TRUE(testenv::waitUntil([&] { return logout.count() == 2; }));
}

// The pull bookmark belongs to the login it was pulled for: a logout or another user id
// forgets it; the same id stored again keeps it.
TEST_F(AccountState, ThePullBookmarkIsForgottenAtLogoutAndForAnotherUser)
{
    struct Case {
        const char* name;
        std::function<void()> step;
        bool kept;
    };
    const Case cases[] = {
        {"the same id again", [] { config().setLoginUserId(QStringLiteral("7")); }, true},
        {"a new token", [] { config().setLoginUserToken(QStringLiteral("t2")); }, true},
        {"another id", [] { config().setLoginUserId(QStringLiteral("8")); }, false},
        {"no id", [] { config().setLoginUserId(std::nullopt); }, false},
        {"logout", [] { config().setLoginUserToken(std::nullopt); }, false},
    };
    for (const Case& c : cases) {
        config().setLoginUserId(QStringLiteral("7"));
        config().setLoginUserToken(QStringLiteral("t"));
        defaults().setValue(QStringLiteral("lastPullRequestTime"), QStringLiteral("1700000000"));
        c.step();
        EXPECT_EQ(defaults().contains(QStringLiteral("lastPullRequestTime")), c.kept) << c.name;
    }
    EXPECT_TRUE(testenv::waitForMainQueue());
}

TEST_F(AccountState, IncomingHashIsComparedAndClearedInOneStep)
{
    EXPECT_FALSE(config().incommingHash());
    EXPECT_FALSE(config().clearIncommingHashIfEqual(hashOf(1)));
    config().setIncommingHash(hashOf(1));
    EXPECT_FALSE(config().clearIncommingHashIfEqual(hashOf(2)));
    EXPECT_EQ(config().incommingHash(), hashOf(1));
    EXPECT_TRUE(config().clearIncommingHashIfEqual(hashOf(1)));
    EXPECT_FALSE(config().incommingHash());
    EXPECT_FALSE(config().clearIncommingHashIfEqual(hashOf(1)));  // skipped once only
}

TEST_F(AccountState, KeyWordPatternIsTheBuiltInWordsThenTheUsersWords)
{
    const QString builtIn = QStringLiteral("名|卡|号|账|码|password|account|username");
    EXPECT_EQ(config().sysKeyWords().join('|'), builtIn);
    EXPECT_EQ(config().keyWordsRegPattern(), builtIn);
    EXPECT_TRUE(config().addNewWord(QStringLiteral("secret")));
    EXPECT_EQ(config().keyWordsRegPattern(), builtIn + "|secret");
    EXPECT_TRUE(config().addNewWord(QStringLiteral("\\d{16}")));
    EXPECT_EQ(config().keyWordsRegPattern(), builtIn + "|secret|\\d{16}");
    // A word that does not compile on its own stands there as plain text.
    EXPECT_TRUE(config().addNewWord(QStringLiteral("?")));
    EXPECT_EQ(config().keyWordsRegPattern(), builtIn + "|secret|\\d{16}|\\?");
    EXPECT_EQ(defaults().stringList("userKeyWords"), (QStringList{"secret", "\\d{16}", "?"}));
    EXPECT_EQ(config().keyWordsRegExps().size(), 8 + 3);
    EXPECT_EQ(config().keyWordsRegExps().last().position, 8 + 3);
}

// The user's words are patterns: a bad one is matched literally and never switches the
// others off, built-in ones included.
TEST_F(AccountState, EachKeyWordIsAPatternOfItsOwn)
{
    for (const char* word : {"\\d{16}", "1[3-9]\\d{9}", "?", "(", "(?<n>a)b", "(?<n>c)d", "[", "secret"})
        ASSERT_TRUE(config().addNewWord(QString::fromUtf8(word)));

    struct Case {
        const char* text;
        bool secret;
    };
    const Case cases[] = {
        {"card 4111111111111111 here", true},  // \d{16}
        {"call 13812345678", true},            // 1[3-9]\d{9}
        {"call 12812345678", false},
        {"what?", true},                       // "?" taken literally
        {"f(x)", true},                        // "(" taken literally
        {"a[0]", true},                        // "[" taken literally
        {"AB", true},                          // named groups of the same name in two words
        {"cd", true},
        {"my PASSWORD", true},
        {"a SECRET", true},
        {"hello world", false},
        {"4111 1111 1111 1111", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utils::isSecret(QString::fromUtf8(c.text)), c.secret) << c.text;
}

// A word the engine gives up on (nested repeats) may well be in the text: the text is
// secret, and the word is named for the Privacy pane.
TEST_F(AccountState, AKeyWordTheEngineGivesUpOnCountsAsFound)
{
    const QString costly = QStringLiteral("(x+x+)+y");
    // Would lift the engine's limit if taken as an option: taken literally instead.
    const QString lifting = QStringLiteral("(*LIMIT_MATCH=99999999)(x+x+)+z");
    ASSERT_TRUE(config().addNewWord(QStringLiteral("plain")));
    ASSERT_TRUE(config().addNewWord(costly));
    ASSERT_TRUE(config().addNewWord(lifting));
    const QString run = QString(40, QLatin1Char('x'));

    struct Case {
        QString text;
        bool secret;
    };
    const Case cases[] = {
        {QStringLiteral("hello"), false},  // no x at all: the engine answers at once
        {QStringLiteral("an xxy here"), true},  // a match it finds
        {run + QStringLiteral("! then xxy"), true},  // a match it gives up before finding
        {run + QStringLiteral("! then y"), true},  // given up on: cannot be cleared
        {lifting, true},  // the literal text
    };
    EXPECT_TRUE(config().costlyKeyWords().isEmpty());
    for (const Case& c : cases)
        EXPECT_EQ(Utils::isSecret(c.text), c.secret) << c.text.toStdString();
    EXPECT_EQ(config().costlyKeyWords(), QStringList{costly}) << "the literal word was never given up on";

    // An edited word is no longer named.
    config().setKeyWord(QStringLiteral("x+y"), 1);
    EXPECT_TRUE(config().costlyKeyWords().isEmpty());
    EXPECT_FALSE(Utils::isSecret(run + QStringLiteral("! then y"))) << "a word the engine can answer";
    EXPECT_TRUE(config().costlyKeyWords().isEmpty());
}

// Once the time for one text is spent, the words not tried yet cannot clear it.
TEST_F(AccountState, KeyWordsLeftUntriedWhenTheTimeIsSpentCountAsFound)
{
    for (int i = 0; i < ConfigureManager::kMaxCustomKeyWords; ++i)
        ASSERT_TRUE(config().addNewWord(QStringLiteral("(x+x+)+y%1").arg(i)));
    const QString text = QString(40, QLatin1Char('x')) + QStringLiteral("!y0");
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("hello"), std::chrono::nanoseconds(0)));
    EXPECT_FALSE(Utils::isSecret(QStringLiteral("hello"), std::chrono::hours(1)));
    EXPECT_TRUE(Utils::isSecret(text));
    EXPECT_EQ(config().costlyKeyWords().size(), 1) << "the first costly word decides; the rest are not tried";
}

TEST_F(AccountState, KeyWordEditsKeepTheirLimits)
{
    for (int i = 0; i < 24; ++i)
        ASSERT_TRUE(config().addNewWord(QStringLiteral("w%1").arg(i)));
    EXPECT_TRUE(config().addNewWord(QString()));  // YES, but nothing added
    EXPECT_EQ(config().customKeyWords().size(), 24);
    EXPECT_TRUE(config().addNewWord(QStringLiteral("w24")));
    const QStringList full = config().customKeyWords();
    const QString pattern = config().keyWordsRegPattern();
    ASSERT_EQ(full.size(), 25);

    EXPECT_FALSE(config().addNewWord(QStringLiteral("w25")));
    EXPECT_EQ(config().customKeyWords(), full);
    EXPECT_EQ(defaults().stringList("userKeyWords"), full);
    EXPECT_EQ(config().keyWordsRegPattern(), pattern);

    for (qsizetype bad : {qsizetype(25), qsizetype(100), qsizetype(-1)}) {
        config().setKeyWord(QStringLiteral("x"), bad);
        config().removeKeyWordAtIndex(bad);
    }
    config().setKeyWord(QString(), 0);
    EXPECT_EQ(config().customKeyWords(), full);

    config().setKeyWord(QStringLiteral("first"), 0);
    config().removeKeyWordAtIndex(24);
    QStringList expected = full;
    expected[0] = QStringLiteral("first");
    expected.removeLast();
    EXPECT_EQ(config().customKeyWords(), expected);
    EXPECT_EQ(defaults().stringList("userKeyWords"), expected);
    EXPECT_TRUE(config().keyWordsRegPattern().endsWith("|first|w1|w2|w3|w4|w5|w6|w7|w8|w9|w10|w11|w12|w13|w14|w15|"
                                                       "w16|w17|w18|w19|w20|w21|w22|w23"));
    while (!config().customKeyWords().isEmpty())
        config().removeKeyWordAtIndex(0);
    EXPECT_EQ(config().keyWordsRegPattern(), config().sysKeyWords().join('|'));
}

// The main thread, the capture queue and network queues reach the manager at once.
TEST_F(AccountState, ManyThreadsAtOnce)
{
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([t, &failed] {
            for (int i = 0; i < 300; ++i) {
                const QString mine = QStringLiteral("%1-%2").arg(t).arg(i);
                switch ((t + i) % 5) {
                case 0:
                    config().setLoginUserId(mine);
                    config().setLoginUserEmail(mine + "@example.com");
                    break;
                case 1:
                    config().setIncommingHash(mine);
                    config().clearIncommingHashIfEqual(mine);
                    break;
                case 2:
                    if (config().addNewWord(mine) && config().customKeyWords().size() > 20)
                        config().removeKeyWordAtIndex(0);
                    break;
                case 3:
                    if (!Utils::isSecret(QStringLiteral("password")))
                        failed = true;
                    break;
                case 4:
                    config().setLoginUserToken(mine);
                    if (!config().isLogined())  // every token here is non-empty
                        failed = true;
                    break;
                }
                (void)config().loginUserId();
                (void)config().incommingHash();
                (void)config().keyWordsRegPattern();
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_FALSE(failed.load());
    EXPECT_LE(config().customKeyWords().size(), ConfigureManager::kMaxCustomKeyWords);
    EXPECT_EQ(defaults().stringList("userKeyWords"), config().customKeyWords());
    ASSERT_TRUE(testenv::waitForMainQueue());
}
