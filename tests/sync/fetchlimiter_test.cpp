#include "sync/fetchlimiter.h"

#include "support/testenv.h"

#include <QStringList>

#include <vector>

#include <gtest/gtest.h>

namespace {

// Records what the limiter starts; the test ends each piece of work by hand.
struct Recorder {
    QStringList fetches;
    std::vector<FetchLimiter::Done> fetchDone;
    std::vector<FetchLimiter::Done> pullDone;

    FetchLimiter::Start fetch(const QString& key)
    {
        return [this, key](FetchLimiter::Done done) {
            fetches << key;
            fetchDone.push_back(std::move(done));
        };
    }
    FetchLimiter::Start pull()
    {
        return [this](FetchLimiter::Done done) { pullDone.push_back(std::move(done)); };
    }
};

}  // namespace

TEST(FetchLimiter, FetchesBeyondTheLimitAreFoldedIntoPullsUntilAQuietPull)
{
    Recorder r;
    FetchLimiter limiter(r.pull());
    for (const char* key : {"a", "b", "c"})
        limiter.fetch(QString::fromLatin1(key), r.fetch(QString::fromLatin1(key)));
    EXPECT_EQ(r.fetches, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_TRUE(r.pullDone.empty());

    // The one that does not fit starts a pull; more hints while it runs ask for one more.
    limiter.fetch(QStringLiteral("d"), r.fetch(QStringLiteral("d")));
    ASSERT_EQ(r.pullDone.size(), 1u);
    r.fetchDone[0]();  // a slot is free, but the pull already covers what comes
    limiter.fetch(QStringLiteral("e"), r.fetch(QStringLiteral("e")));
    limiter.pull();
    EXPECT_EQ(r.fetches.size(), 3);
    EXPECT_EQ(r.pullDone.size(), 1u);

    // The second pull waits for the first to end and for the spacing.
    r.pullDone[0]();
    EXPECT_EQ(r.pullDone.size(), 1u);
    EXPECT_FALSE(limiter.isIdle());
    ASSERT_TRUE(testenv::waitUntil([&] { return r.pullDone.size() == 2; }));

    // A pull with no hint meanwhile ends the folding: fetches start again.
    r.pullDone[1]();
    limiter.fetch(QStringLiteral("f"), r.fetch(QStringLiteral("f")));
    EXPECT_EQ(r.fetches.last(), QStringLiteral("f"));
    EXPECT_FALSE(limiter.isIdle());
    for (size_t i = 1; i < r.fetchDone.size(); ++i)
        r.fetchDone[i]();
    EXPECT_TRUE(limiter.isIdle());
    EXPECT_EQ(r.pullDone.size(), 2u);
}

TEST(FetchLimiter, AResetForgetsWorkUnderWay)
{
    Recorder r;
    FetchLimiter limiter(r.pull());
    limiter.fetch(QStringLiteral("a"), r.fetch(QStringLiteral("a")));
    limiter.pull();
    ASSERT_EQ(r.pullDone.size(), 1u);
    limiter.reset();
    EXPECT_TRUE(limiter.isIdle());
    // Late completions of the old work change nothing.
    r.fetchDone[0]();
    r.pullDone[0]();
    EXPECT_TRUE(limiter.isIdle());
    limiter.fetch(QStringLiteral("a"), r.fetch(QStringLiteral("a")));
    EXPECT_EQ(r.fetches.size(), 2);
    // The spacing counts from the last pull before the reset no more.
    limiter.pull();
    EXPECT_EQ(r.pullDone.size(), 2u);
}

// A hint for a key whose fetch is under way may name what that fetch's answer predates (the
// body-ready message after the post's): the fetch runs once more when it ends, however many
// hints came meanwhile, and a hint after it has ended starts a fresh one.
TEST(FetchLimiter, AHintDuringAFetchOfItsKeyRunsItOnceMore)
{
    Recorder r;
    FetchLimiter limiter(r.pull());
    const QString a = QStringLiteral("a");
    limiter.fetch(a, r.fetch(a));
    ASSERT_EQ(r.fetches.size(), 1);

    // Ended without a hint meanwhile: done.
    r.fetchDone[0]();
    EXPECT_TRUE(limiter.isIdle());

    limiter.fetch(a, r.fetch(a));
    for (int i = 0; i < 5; ++i)
        limiter.fetch(a, r.fetch(a));
    limiter.fetch(QStringLiteral("b"), r.fetch(QStringLiteral("b")));
    EXPECT_EQ(r.fetches, (QStringList{a, a, QStringLiteral("b")}));
    r.fetchDone[1]();
    // The one more run, and no further one.
    ASSERT_EQ(r.fetches, (QStringList{a, a, QStringLiteral("b"), a}));
    EXPECT_FALSE(limiter.isIdle());
    r.fetchDone[3]();
    EXPECT_EQ(r.fetches.size(), 4);
    r.fetchDone[2]();
    EXPECT_TRUE(limiter.isIdle());
    EXPECT_TRUE(r.pullDone.empty());

    // A hint during the extra run earns one more again: each run answers the hints before it.
    limiter.fetch(a, r.fetch(a));
    limiter.fetch(a, r.fetch(a));
    r.fetchDone[4]();
    limiter.fetch(a, r.fetch(a));
    r.fetchDone[5]();
    ASSERT_EQ(r.fetches.size(), 7);
    r.fetchDone[6]();
    EXPECT_TRUE(limiter.isIdle());
}
