#include "platform/userdefaults.h"
#include "support/testenv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(UserDefaults, BooleansReadTheirDefaultWhenAbsentAndSurviveReopening)
{
    auto& d = UserDefaults::standard();
    EXPECT_TRUE(d.boolForKey(QStringLiteral("analyseSecert"), true));
    EXPECT_FALSE(d.boolForKey(QStringLiteral("autoSetPasteboard"), false));
    d.setBool(QStringLiteral("analyseSecert"), false);
    d.setBool(QStringLiteral("autoSetPasteboard"), true);
    UserDefaults::useFile(testenv::settingsFile());  // as after a restart
    EXPECT_FALSE(d.boolForKey(QStringLiteral("analyseSecert"), true));
    EXPECT_TRUE(d.boolForKey(QStringLiteral("autoSetPasteboard"), false));
}

TEST(UserDefaults, StoringNoneRemovesTheKey)
{
    auto& d = UserDefaults::standard();
    d.setValue(QStringLiteral("loginUserToken"), QStringLiteral("t"));
    EXPECT_TRUE(d.contains(QStringLiteral("loginUserToken")));
    d.setValue(QStringLiteral("loginUserToken"), QVariant());
    EXPECT_FALSE(d.contains(QStringLiteral("loginUserToken")));
    EXPECT_FALSE(d.string(QStringLiteral("loginUserToken")).has_value());
}

TEST(UserDefaults, ListsMapsDataAndNumbersRoundTripThroughTheFile)
{
    auto& d = UserDefaults::standard();
    d.setValue(QStringLiteral("one"), QStringList{QStringLiteral("a,b")});
    d.setValue(QStringLiteral("many"), QStringList{QStringLiteral("x"), QStringLiteral("y")});
    d.setValue(QStringLiteral("counts"), QVariantMap{{QStringLiteral("id.a"), 3}});
    d.setValue(QStringLiteral("key"), QByteArray("\x00\x01\xff", 3));
    d.setValue(QStringLiteral("CLIP_MONITOR_SPEED"), 0.3);
    d.setValue(QStringLiteral("keyCode"), 9);
    d.sync();
    UserDefaults::useFile(testenv::settingsFile());
    EXPECT_EQ(d.stringList(QStringLiteral("one")), QStringList{QStringLiteral("a,b")});
    EXPECT_EQ(d.stringList(QStringLiteral("many")), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ(d.dictionary(QStringLiteral("counts")).value(QStringLiteral("id.a")).toInt(), 3);
    EXPECT_EQ(d.data(QStringLiteral("key")), QByteArray("\x00\x01\xff", 3));
    EXPECT_DOUBLE_EQ(d.doubleForKey(QStringLiteral("CLIP_MONITOR_SPEED")).value(), 0.3);
    EXPECT_EQ(d.integerForKey(QStringLiteral("keyCode")).value(), 9);
    EXPECT_TRUE(d.stringList(QStringLiteral("absent")).isEmpty());
}

TEST(UserDefaults, SafeFromSeveralThreads)
{
    auto& d = UserDefaults::standard();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 300; ++i) {
                d.setValue(QStringLiteral("k%1").arg(t), i);
                (void)d.integerForKey(QStringLiteral("k%1").arg((t + 1) % 4));
                d.setValue(QStringLiteral("shared"), QVariantMap{{QStringLiteral("n"), i}});
            }
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(d.integerForKey(QStringLiteral("k%1").arg(t)).value(), 299);
}

// Writers on several threads while the main loop runs, as a login on "data manager" runs
// beside the event loop: each value is in the file by the time its write returns (what a
// notification sent next may announce), and every value is there at the end.
TEST(UserDefaults, EveryWriteFromAnyThreadIsInTheFileWhenItReturns)
{
    auto& d = UserDefaults::standard();
    const QString path = d.fileName();
    constexpr int kThreads = 4;
    constexpr int kWrites = 30;
    const auto key = [](int t, int i) { return QStringLiteral("t%1/k%2").arg(t).arg(i); };
    const auto value = [](int t, int i) { return QStringLiteral("v%1x%2end").arg(t).arg(i); };
    // The bytes on disk: another QSettings of this process would share the store's unsaved
    // changes.
    const auto onDisk = [&path]() {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    std::atomic<int> running{kThreads};
    std::atomic<int> notYetInTheFile{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                d.setValue(key(t, i), value(t, i));
                // The file as another process would read it now.
                if (!onDisk().contains(value(t, i)))
                    ++notYetInTheFile;
            }
            --running;
        });
    EXPECT_TRUE(testenv::waitUntil([&] { return running == 0; }, std::chrono::seconds(120)));
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(notYetInTheFile, 0);

    const QString file = onDisk();
    int missing = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kWrites; ++i)
            missing += file.contains(value(t, i)) ? 0 : 1;
    EXPECT_EQ(missing, 0);
    // And read back as settings.
    UserDefaults::useFile(path);
    EXPECT_EQ(d.string(key(kThreads - 1, kWrites - 1)), value(kThreads - 1, kWrites - 1));
}

// Numbers edited by hand in the settings file come back as text: out-of-range or broken
// ones read as nothing, never as an undefined conversion.
TEST(UserDefaults, HandEditedNumbersAreRangeChecked)
{
    {
        QFile file(testenv::settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\n"
                   "keyCode=1e30\n"
                   "modifierFlags=-1e300\n"
                   "small=1179648\n"
                   "fraction=9.75\n"
                   "speed=0.25\n"
                   "huge=1e999\n"
                   "word=fast\n"
                   "nan=nan\n");
    }
    UserDefaults::useFile(testenv::settingsFile());
    auto& d = UserDefaults::standard();
    struct Case {
        const char* key;
        std::optional<qint64> whole;
        std::optional<double> real;
    };
    const Case cases[] = {
        {"keyCode", std::nullopt, 1e30},
        {"modifierFlags", std::nullopt, -1e300},
        {"small", 1179648, 1179648.0},
        {"fraction", 9, 9.75},
        {"speed", 0, 0.25},
        {"huge", std::nullopt, std::nullopt},
        {"word", std::nullopt, std::nullopt},
        {"nan", std::nullopt, std::nullopt},
        {"absent", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(d.integerForKey(QString::fromLatin1(c.key)), c.whole) << c.key;
        EXPECT_EQ(d.doubleForKey(QString::fromLatin1(c.key)), c.real) << c.key;
    }
}
