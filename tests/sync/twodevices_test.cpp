#include "store/digest.h"
#include "support/mosquittobroker.h"
#include "support/syncdevice/devicedriver.h"
#include "support/testenv.h"
#include "support/webservice/mqttpublisher.h"
#include "support/webservice/webservicedouble.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

using syncdevice::DeviceDriver;

namespace {

// Two devices of one user, each a process of its own, one web service double, one broker.
class TwoDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(server.connectBroker(broker.host().toStdString(), broker.port()));
        userId = server.addAccount(kEmail, kPassword);
        otherUserId = server.addAccount(kOtherEmail, kPassword);
        // Two homes on one machine, each with the token it makes itself.
        a = std::make_unique<DeviceDriver>(server.baseURL(), broker.port());
        b = std::make_unique<DeviceDriver>(server.baseURL(), broker.port());
        ASSERT_TRUE(a->started()) << a->output().toStdString();
        ASSERT_TRUE(b->started()) << b->output().toStdString();
    }

    // Each device's answer starts with "ok"; the device's output explains a failure.
    void expectOk(DeviceDriver& device, const QString& answer)
    {
        ASSERT_TRUE(answer.startsWith(QStringLiteral("ok")))
            << answer.toStdString() << "\nthis device:\n" << device.output().toStdString() << "\nthe other:\n"
            << (&device == a.get() ? b : a)->output().toStdString() << serverLog();
    }
    // What the double received, one request a line, for failure messages.
    std::string serverLog()
    {
        std::string log = "requests to the double:\n";
        for (const auto& request : server.requests())
            log += request.method + " " + request.path + " " + request.query.substr(0, 220) + "\n";
        return log;
    }

    // Both devices logged in to the first account with its key.
    void loginBoth()
    {
        const QString login = QStringLiteral("login %1 %2").arg(kEmail, kPassword);
        expectOk(*a, a->call(login));
        expectOk(*a, a->call(QStringLiteral("setupkey ") + kPin));
        expectOk(*b, b->call(login));
        expectOk(*b, b->call(QStringLiteral("unlock ") + kPin));
    }
    // From captures the text; to hears of it and has its row.
    void captureAndReceive(DeviceDriver& from, const QString& text, DeviceDriver& to)
    {
        to.send(QStringLiteral("waitrow ") + md5HexOfString(text));
        expectOk(from, from.call(QStringLiteral("capture ") + text));
        expectOk(to, to.answer());
    }
    // The service holds the clip as a favourite (waits for it).
    bool waitForServerFavourite(const QString& hash)
    {
        return testenv::waitUntil(
            [&] { return serverClip(userId, hash).value(QStringLiteral("favourite")).toInteger() > 0; },
            std::chrono::seconds(10));
    }
    // The favouriting device has nothing of the clip left to send; once the other has synced its
    // favourites, both hold the favourite copy.
    void expectFavouriteOnBoth(DeviceDriver& favouriting, const QString& hash, DeviceDriver& other);
    // The word after "ok" in an answer.
    static QString word(const QString& answer, int index = 1) { return answer.section(QLatin1Char(' '), index, index); }
    // The hashes of the clips the server holds for the account.
    QSet<QString> serverHashes(qint64 account)
    {
        QSet<QString> hashes;
        auto lock = server.lock();
        for (const auto& [id, clip] : server.clipRoutes().state().accounts[account].clips)
            hashes.insert(clip.history.value(QStringLiteral("file_hash")).toString());
        return hashes;
    }
    QJsonObject serverClip(qint64 account, const QString& hash)
    {
        auto lock = server.lock();
        for (const auto& [id, clip] : server.clipRoutes().state().accounts[account].clips)
            if (clip.history.value(QStringLiteral("file_hash")).toString() == hash)
                return clip.history;
        return {};
    }

    inline static const QString kEmail = QStringLiteral("two@example.com");
    inline static const QString kOtherEmail = QStringLiteral("other@example.com");
    inline static const QString kPassword = QStringLiteral("correct-horse");
    inline static const QString kPin = QStringLiteral("1357");

    MosquittoBroker broker;
    webdouble::WebServiceDouble server;
    qint64 userId = 0;
    qint64 otherUserId = 0;
    std::unique_ptr<DeviceDriver> a;
    std::unique_ptr<DeviceDriver> b;
};

}  // namespace

TEST_F(TwoDevices, AClipCapturedOnOneDeviceReachesTheOtherAndLeavesWithIt)
{
    loginBoth();

    // A captures; B receives it through the push channel, fetched and decrypted.
    // Short enough to be its own summary, so B can write the body from the row alone.
    const QString text = QStringLiteral("meet at the north gate");
    const QString hash = md5HexOfString(text);
    b->send(QStringLiteral("waitrow ") + hash);
    const QString captured = a->call(QStringLiteral("capture ") + text);
    expectOk(*a, captured);
    ASSERT_EQ(captured.split(QLatin1Char(' ')).value(1), hash);
    const QString received = b->answer();
    expectOk(*b, received);
    EXPECT_EQ(received.section(QLatin1Char(' '), 2), text) << received.toStdString() << b->output().toStdString();

    // A deletes it; B loses it.
    b->send(QStringLiteral("waitgone ") + hash);
    expectOk(*a, a->call(QStringLiteral("delete ") + hash));
    expectOk(*b, b->answer());

    // A clears its history; B clears too.
    const QString second = QStringLiteral("second note");
    const QString secondHash = md5HexOfString(second);
    captureAndReceive(*a, second, *b);
    // A clear removes clips older than its time, in whole seconds: let the capture's second pass.
    const qint64 capturedSecond = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(testenv::waitUntil([&] { return QDateTime::currentSecsSinceEpoch() > capturedSecond; }));
    b->send(QStringLiteral("waitgone ") + secondHash);
    expectOk(*a, a->call(QStringLiteral("clear")));
    expectOk(*b, b->answer());
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 0"));

    // The server saw only ciphertext.
    for (const auto& request : server.requests()) {
        for (const QString& plain : {text, second}) {
            EXPECT_FALSE(QString::fromStdString(request.body).contains(plain)) << request.path;
            EXPECT_FALSE(QString::fromStdString(request.query).contains(plain)) << request.path;
        }
    }
}

// No token set by hand: each home makes its own, so the broker keeps both clients and each
// hears the other's clips, in both directions.
TEST_F(TwoDevices, TwoHomesOnOneMachineSyncWithoutATokenSetByHand)
{
    const QString tokenA = a->call(QStringLiteral("token"));
    const QString tokenB = b->call(QStringLiteral("token"));
    expectOk(*a, tokenA);
    expectOk(*b, tokenB);
    EXPECT_TRUE(isValidFileHash(word(tokenA)));
    EXPECT_NE(word(tokenA), word(tokenB));
    loginBoth();

    for (auto [from, to, text] : {std::tuple{a.get(), b.get(), QStringLiteral("from the first home")},
                                  std::tuple{b.get(), a.get(), QStringLiteral("from the second home")}}) {
        const QString hash = md5HexOfString(text);
        to->send(QStringLiteral("waitrow ") + hash);
        expectOk(*from, from->call(QStringLiteral("capture ") + text));
        const QString received = to->answer();
        expectOk(*to, received);
        EXPECT_EQ(received.section(QLatin1Char(' '), 2), text);
    }
    EXPECT_EQ(serverHashes(userId), (QSet<QString>{md5HexOfString(QStringLiteral("from the first home")),
                                                   md5HexOfString(QStringLiteral("from the second home"))}));
    // Neither client was dropped for the other.
    EXPECT_FALSE(broker.log().contains(QStringLiteral("already connected"))) << broker.log().toStdString();
}

// A clip copied while the broker is down is never announced; once the broker is back the
// other device's reconnection pulls it, with no pull by hand.
TEST_F(TwoDevices, ACopyMadeWhileTheBrokerIsDownReachesTheOtherDeviceWhenItIsBack)
{
    loginBoth();
    broker.stop();
    const QString text = QStringLiteral("copied while the broker was down");
    const QString hash = md5HexOfString(text);
    const QString captured = a->call(QStringLiteral("capture ") + text);
    expectOk(*a, captured);
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes(userId).contains(hash); }, std::chrono::seconds(10)));

    ASSERT_TRUE(broker.restart()) << broker.log().toStdString();
    expectOk(*b, b->call(QStringLiteral("waitrow ") + hash, std::chrono::seconds(30)));
    const QString body = b->call(QStringLiteral("waitbody ") + hash);
    expectOk(*b, body);
    EXPECT_EQ(word(body), hash);
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 1"));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 1"));
}

// B leaves for another account and comes back: each login sees its own history only, and the
// server keeps the two accounts apart.
TEST_F(TwoDevices, AnotherAccountOnOneDeviceAndBackEachSeesOnlyItsOwnHistory)
{
    loginBoth();
    const QString mine = QStringLiteral("a note of the first login");
    const QString mineHash = md5HexOfString(mine);
    captureAndReceive(*a, mine, *b);

    expectOk(*b, b->call(QStringLiteral("logout")));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 0"));
    expectOk(*b, b->call(QStringLiteral("login %1 %2").arg(kOtherEmail, kPassword)));
    expectOk(*b, b->call(QStringLiteral("setupkey 8642")));
    const QString theirs = QStringLiteral("a note of the second login");
    const QString theirsHash = md5HexOfString(theirs);
    expectOk(*b, b->call(QStringLiteral("capture ") + theirs));
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes(otherUserId).contains(theirsHash); }));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 1"));

    // Back to the first account: its history comes back as soon as the key is unlocked. The
    // watcher records what is on the clipboard after a logout, and the next login uploads it
    // like any copy of its own: the clipboard is emptied first, so only history is compared.
    expectOk(*b, b->call(QStringLiteral("emptyclipboard")));
    expectOk(*b, b->call(QStringLiteral("logout")));
    expectOk(*b, b->call(QStringLiteral("login %1 %2").arg(kEmail, kPassword)));
    expectOk(*b, b->call(QStringLiteral("unlock ") + kPin));
    expectOk(*b, b->call(QStringLiteral("waitrow ") + mineHash));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 1"));
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 1"));
    EXPECT_EQ(serverHashes(userId), QSet<QString>{mineHash});
    EXPECT_EQ(serverHashes(otherUserId), QSet<QString>{theirsHash});
}

// Bodies too big for a row's content travel through the object store and arrive as they
// left: a long text, an image, and a file once files are not secret.
TEST_F(TwoDevices, ALongTextAnImageAndAFileArriveByteForByte)
{
    loginBoth();
    expectOk(*a, a->call(QStringLiteral("set fileAsSecert false")));

    QString longText;
    while (longText.size() < 6000)
        longText += QStringLiteral("line %1 of a long text to sync; ").arg(longText.size());
    // The device's command line keeps no space at the end.
    longText = longText.trimmed();
    const QString imagePath = a->home() + QStringLiteral("/picture.png");
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x + y) % 256));
    ASSERT_TRUE(image.save(imagePath, "PNG"));
    const QString filePath = a->home() + QStringLiteral("/notes.bin");
    QByteArray fileBytes(200000, Qt::Uninitialized);
    for (char& c : fileBytes)
        c = char(QRandomGenerator::global()->bounded(256));
    {
        QFile file(filePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(fileBytes), fileBytes.size());
    }

    struct Case {
        const char* name;
        QString command;
    };
    const Case cases[] = {
        {"long text", QStringLiteral("capture ") + longText},
        {"image", QStringLiteral("captureimage ") + imagePath},
        {"file", QStringLiteral("capturefile ") + filePath},
    };
    for (const Case& c : cases) {
        const QString captured = a->call(c.command);
        expectOk(*a, captured);
        const QString hash = word(captured);
        if (QString::fromLatin1(c.name) == QLatin1String("long text")) {
            EXPECT_EQ(hash, md5HexOfString(longText));
        } else if (QString::fromLatin1(c.name) == QLatin1String("file")) {
            EXPECT_EQ(hash, md5HexOfData(fileBytes));
        }
        const QString body = b->call(QStringLiteral("waitbody ") + hash, std::chrono::seconds(30));
        expectOk(*b, body);
        EXPECT_EQ(word(body), hash) << c.name;
        // The server never held the plain body.
        const QJsonObject stored = serverClip(userId, hash);
        EXPECT_TRUE(stored.value(QStringLiteral("type")).toString().endsWith(QStringLiteral("+enc"))) << c.name;
    }
    for (const auto& request : server.requests())
        EXPECT_FALSE(QString::fromStdString(request.body).contains(longText.left(40))) << request.path;
}

// A favourite made on A reaches B when B syncs its favourites.
TEST_F(TwoDevices, AFavouriteOnOneDeviceReachesTheOtherAfterItsFavouritesSync)
{
    loginBoth();
    const QString text = QStringLiteral("worth keeping");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*a, text, *b);

    expectOk(*a, a->call(QStringLiteral("favourite ") + hash));
    ASSERT_TRUE(waitForServerFavourite(hash));
    expectOk(*b, b->call(QStringLiteral("syncfavourites")));
    expectOk(*b, b->call(QStringLiteral("waitfavourite ") + hash, std::chrono::seconds(5)));
}

// A clip deleted on A while its first post is held at the server: the post still creates it
// there, so A deletes it there too. In the end neither the server nor B holds it, and A's next
// pull does not bring it back.
TEST_F(TwoDevices, AClipDeletedDuringItsFirstPostIsGoneFromTheServerAndTheOtherDevice)
{
    loginBoth();
    const QString text = QStringLiteral("deleted while its post was held");
    const QString hash = md5HexOfString(text);
    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1), "POST");
    expectOk(*a, a->call(QStringLiteral("capture ") + text));
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }, std::chrono::seconds(10))) << serverLog();
    // Never pushed yet, so A deletes it here only, at once.
    expectOk(*a, a->call(QStringLiteral("delete ") + hash));
    gate->open();
    auto deletedOnServer = [&] {
        for (const auto& request : server.requestsTo("/push/"))
            if (request.method == "DELETE")
                return !serverHashes(userId).contains(hash);
        return false;
    };
    ASSERT_TRUE(testenv::waitUntil(deletedOnServer, std::chrono::seconds(10))) << serverLog();

    // A later clip reaches B after every message about the first; B may have fetched the first
    // meanwhile, and then drops it once the server confirms the delete.
    const QString later = QStringLiteral("a later note");
    const QString laterHash = md5HexOfString(later);
    captureAndReceive(*a, later, *b);
    expectOk(*b, b->call(QStringLiteral("waitgone ") + hash));
    expectOk(*a, a->call(QStringLiteral("pull")));
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes(userId).contains(laterHash); }));
    EXPECT_EQ(serverHashes(userId), QSet<QString>{laterHash});
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 1"));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 1"));
}

// The server has lost a clip A pushed: it answers A's put with -10 and A detaches the clip.
// When A posts it again it is still encrypted: no request carries its text.
TEST_F(TwoDevices, ADetachedClipIsPostedAgainEncrypted)
{
    loginBoth();
    const QString text = QStringLiteral("lost by the server once");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*a, text, *b);
    auto methods = [&] {
        std::vector<std::string> sent;
        for (const auto& request : server.requestsTo("/push/"))
            if (request.method != "GET")
                sent.push_back(request.method);
        return sent;
    };
    ASSERT_TRUE(testenv::waitUntil([&] { return methods() == std::vector<std::string>{"POST"}; })) << serverLog();
    // A pending change is confirmed in whole seconds: each copy below waits for the second in
    // which the change before it was sent to pass.
    const qint64 postSecond = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(testenv::waitUntil([&] { return QDateTime::currentSecsSinceEpoch() > postSecond; }));

    // Copied again: a change of a clip the server knows goes up as a put, answered -10.
    webdouble::Fault lost = webdouble::Fault::replyCode(-10);
    lost.times = 1;
    server.setFault("/push/", lost, "PUT");
    expectOk(*a, a->call(QStringLiteral("capture ") + text));
    const qint64 putSecond = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(testenv::waitUntil([&] { return methods().size() == 2; })) << serverLog();
    // Copied once more: the detached clip is posted again.
    ASSERT_TRUE(testenv::waitUntil([&] { return QDateTime::currentSecsSinceEpoch() > putSecond; }));
    expectOk(*a, a->call(QStringLiteral("capture ") + text));
    ASSERT_TRUE(testenv::waitUntil([&] { return methods() == std::vector<std::string>{"POST", "PUT", "POST"}; }))
        << serverLog();

    const QJsonObject stored = serverClip(userId, hash);
    EXPECT_TRUE(stored.value(QStringLiteral("type")).toString().endsWith(QStringLiteral("+enc")));
    EXPECT_FALSE(stored.value(QStringLiteral("content")).toString().isEmpty());
    EXPECT_NE(stored.value(QStringLiteral("content")).toString(), text);
    for (const auto& request : server.requests()) {
        EXPECT_FALSE(QString::fromStdString(request.body).contains(text)) << request.method << " " << request.path;
        EXPECT_FALSE(QString::fromStdString(request.query).contains(text)) << request.method << " " << request.path;
    }
    const QString received = b->call(QStringLiteral("waitrow ") + hash);
    expectOk(*b, received);
    EXPECT_EQ(received.section(QLatin1Char(' '), 2), text);
}

// B rebuilds a short text's body from the fetched row; A, which captured it, uploads it. B
// leaves it to A and marks it ready when A's upload is announced.
TEST_F(TwoDevices, OnlyTheCapturingDeviceUploadsABody)
{
    loginBoth();
    const QString tokenB = word(b->call(QStringLiteral("token")));
    const QString text = QStringLiteral("one upload is enough");
    const QString hash = md5HexOfString(text);
    b->send(QStringLiteral("waitbody ") + hash);
    expectOk(*a, a->call(QStringLiteral("capture ") + text));
    const QString body = b->answer();
    expectOk(*b, body);
    EXPECT_EQ(word(body), hash);
    expectOk(*b, b->call(QStringLiteral("waitready ") + hash));
    size_t fromB = 0;
    size_t all = 0;
    for (const auto& request : server.requestsTo("/get_upload_token/")) {
        const QString query = QString::fromStdString(request.query);
        if (!query.contains(QStringLiteral("&file_hash=") + hash))
            continue;
        ++all;
        fromB += query.contains(QStringLiteral("device_token=") + tokenB) ? 1 : 0;
    }
    EXPECT_EQ(all, 1u) << serverLog();
    EXPECT_EQ(fromB, 0u) << serverLog();
}

namespace {

// The favourite the service holds for a clip, and what a device says of it: "FAVOURITE COPY
// PENDING" (see the device's "state" command).
struct ClipState {
    qint64 favourite = 0;
    bool copy = false;
    int pending = 0;
};

ClipState stateOf(DeviceDriver& device, const QString& hash)
{
    const QStringList words = device.call(QStringLiteral("state ") + hash).split(QLatin1Char(' '));
    return {words.value(1).toLongLong(), words.value(2) == QStringLiteral("1"), words.value(3).toInt()};
}

void TwoDevices::expectFavouriteOnBoth(DeviceDriver& favouriting, const QString& hash, DeviceDriver& other)
{
    expectOk(favouriting, favouriting.call(QStringLiteral("waitsettled ") + hash, std::chrono::seconds(10)));
    expectOk(other, other.call(QStringLiteral("syncfavourites")));
    EXPECT_TRUE(stateOf(other, hash).copy);
    EXPECT_TRUE(stateOf(favouriting, hash).copy);
}

// The next whole second, so two decisions on one clip never share their second.
void nextSecond()
{
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(testenv::waitUntil([&] { return QDateTime::currentSecsSinceEpoch() > second; }));
}

}  // namespace

// B copies again a clip A favourited: B's put does not carry a favourite B never made, so the
// favourite stays on the service and reaches B, and A keeps it.
TEST_F(TwoDevices, ARecopyOfAClipFavouritedElsewhereKeepsTheFavouriteEverywhere)
{
    loginBoth();
    const QString text = QStringLiteral("favourited on A, copied again on B");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*a, text, *b);
    expectOk(*a, a->call(QStringLiteral("favourite ") + hash));
    ASSERT_TRUE(waitForServerFavourite(hash));
    const qint64 favourite = serverClip(userId, hash).value(QStringLiteral("favourite")).toInteger();

    server.clearRequests();
    expectOk(*b, b->call(QStringLiteral("capture ") + text));
    expectOk(*b, b->call(QStringLiteral("waitsettled ") + hash, std::chrono::seconds(10)));
    bool put = false;
    for (const auto& request : server.requestsTo("/push/"))
        put = put || request.method == "PUT";
    ASSERT_TRUE(put) << serverLog();
    EXPECT_EQ(serverClip(userId, hash).value(QStringLiteral("favourite")).toInteger(), favourite);

    expectOk(*b, b->call(QStringLiteral("syncfavourites")));
    expectOk(*a, a->call(QStringLiteral("syncfavourites")));
    for (DeviceDriver* device : {a.get(), b.get()}) {
        const ClipState state = stateOf(*device, hash);
        EXPECT_TRUE(state.copy) << device->output().toStdString();
        EXPECT_EQ(state.pending, 0);
    }
}

// A's unfavouring meets a service that does not take it: no answer, a 503 that stored nothing,
// "no longer here" (-4), or A's own favourite request of the clip still on its way. Each time
// A keeps it pending and it reaches the service; B's next favourites sync drops its copy too.
TEST_F(TwoDevices, AnUnfavouringThatIsNotTakenIsKeptUntilTheServiceHasIt)
{
    loginBoth();
    const struct {
        const char* what;
        std::optional<webdouble::Fault> fault;  // none: the favourite's own request is held
    } cases[] = {
        {"no answer", webdouble::Fault::rawBody("not json")},
        {"a 503", webdouble::Fault::rawBody("unavailable", 503)},
        {"no longer here", webdouble::Fault::replyCode(-4)},
        {"its favourite still on its way", std::nullopt},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString text = QStringLiteral("unfavoured, case %1").arg(++n);
        const QString hash = md5HexOfString(text);
        captureAndReceive(*a, text, *b);
        expectOk(*a, a->call(QStringLiteral("waitsettled ") + hash, std::chrono::seconds(10)));

        auto gate = std::make_shared<webdouble::Gate>();
        if (!c.fault)
            server.setFault("/set_favourite/", webdouble::Fault::held(gate, 1));
        expectOk(*a, a->call(QStringLiteral("favourite ") + hash));
        if (c.fault) {
            ASSERT_TRUE(waitForServerFavourite(hash));
            expectOk(*b, b->call(QStringLiteral("syncfavourites")));
            ASSERT_TRUE(stateOf(*b, hash).copy);
            webdouble::Fault fault = *c.fault;
            fault.times = 1;
            server.setFault("/set_favourite/", fault);
        } else {
            ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));
        }

        nextSecond();
        expectOk(*a, a->call(QStringLiteral("favourite ") + hash));  // the second time unfavourites
        gate->open();
        ASSERT_TRUE(testenv::waitUntil([&] {
            return serverClip(userId, hash).value(QStringLiteral("favourite")).toInteger() < 0;
        }, std::chrono::seconds(10))) << serverLog() << a->output().toStdString();
        expectOk(*a, a->call(QStringLiteral("waitsettled ") + hash, std::chrono::seconds(10)));
        expectOk(*b, b->call(QStringLiteral("syncfavourites")));
        const ClipState onA = stateOf(*a, hash);
        EXPECT_FALSE(onA.copy);
        EXPECT_LE(onA.favourite, 0);
        EXPECT_FALSE(stateOf(*b, hash).copy);
        EXPECT_TRUE(serverHashes(userId).contains(hash));
    }
}

// B logs in and copies a clip before its PIN is entered, and favourites it: both wait for the
// key. The unlock sends the clip and its favourite, and A gets the favourite.
TEST_F(TwoDevices, AFavouriteMadeBeforeTheKeyReachesTheServiceAtTheUnlock)
{
    const QString login = QStringLiteral("login %1 %2").arg(kEmail, kPassword);
    expectOk(*a, a->call(login));
    expectOk(*a, a->call(QStringLiteral("setupkey ") + kPin));
    expectOk(*b, b->call(login));

    const QString text = QStringLiteral("favourited before the PIN");
    const QString hash = md5HexOfString(text);
    expectOk(*b, b->call(QStringLiteral("capture ") + text));
    expectOk(*b, b->call(QStringLiteral("favourite ") + hash));
    EXPECT_EQ(stateOf(*b, hash).pending, 2);
    EXPECT_FALSE(serverHashes(userId).contains(hash));

    expectOk(*b, b->call(QStringLiteral("unlock ") + kPin));
    ASSERT_TRUE(waitForServerFavourite(hash)) << serverLog() << b->output().toStdString();
    expectFavouriteOnBoth(*b, hash, *a);
}

// B's favourite meets a failed request and waits; the next push message B hears (A's copy of
// another clip) wakes B's favourite worker too, long before its retry timer would.
TEST_F(TwoDevices, AFavouriteParkedByAFailureGoesAtTheNextPushMessage)
{
    loginBoth();
    const QString text = QStringLiteral("favourited on B while the service stumbled");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*b, text, *a);
    expectOk(*b, b->call(QStringLiteral("waitsettled ") + hash, std::chrono::seconds(10)));

    webdouble::Fault fault = webdouble::Fault::rawBody("not json");
    fault.times = 1;
    server.setFault("/set_favourite/", fault);
    expectOk(*b, b->call(QStringLiteral("favourite ") + hash));
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/set_favourite/").size() == 1; }));
    ASSERT_EQ(serverClip(userId, hash).value(QStringLiteral("favourite")).toInteger(), 0);

    const QString other = QStringLiteral("any clip from A");
    captureAndReceive(*a, other, *b);
    // Well inside the retry timer's first 30 s.
    ASSERT_TRUE(waitForServerFavourite(hash)) << serverLog() << b->output().toStdString();
    expectFavouriteOnBoth(*b, hash, *a);
}

// A's delete meets an unavailable service (503): the clip is gone from A at once, the service
// and B keep it, and A's next trigger (a copy) sends the delete again. In the end neither the
// service nor either device holds it.
TEST_F(TwoDevices, ADeleteTheServiceCouldNotTakeIsSentAgainAndLeavesEveryDevice)
{
    loginBoth();
    const QString text = QStringLiteral("deleted during an outage");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*a, text, *b);
    ASSERT_TRUE(testenv::waitUntil([&] { return serverClip(userId, hash).value(QStringLiteral("history_id")).toInteger() > 0; }));

    webdouble::Fault down = webdouble::Fault::rawBody("", 503);
    down.times = 1;
    server.setFault("/push/", down, "DELETE");
    auto deletes = [&] {
        size_t n = 0;
        for (const auto& request : server.requestsTo("/push/"))
            n += request.method == "DELETE";
        return n;
    };
    expectOk(*a, a->call(QStringLiteral("delete ") + hash));
    ASSERT_TRUE(testenv::waitUntil([&] { return deletes() == 1; })) << serverLog();
    EXPECT_TRUE(serverHashes(userId).contains(hash));
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 0"));

    const QString later = QStringLiteral("the network is back");
    const QString laterHash = md5HexOfString(later);
    expectOk(*a, a->call(QStringLiteral("capture ") + later));
    expectOk(*b, b->call(QStringLiteral("waitgone ") + hash));
    expectOk(*b, b->call(QStringLiteral("waitrow ") + laterHash));
    EXPECT_EQ(deletes(), 2u);
    EXPECT_EQ(serverHashes(userId), QSet<QString>{laterHash});
    expectOk(*a, a->call(QStringLiteral("pull")));
    expectOk(*b, b->call(QStringLiteral("pull")));
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 1"));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 1"));
}

// A's post reached the service, which told B, but its reply to A was lost (502): A's delete
// knows no server id. A's next pull names it; A does not take it back and deletes it there, and
// B loses it.
TEST_F(TwoDevices, AClipWhosePostReplyWasLostIsDeletedOnTheServiceAndTheOtherDevice)
{
    loginBoth();
    const QString text = QStringLiteral("stored while the reply was lost");
    const QString hash = md5HexOfString(text);
    webdouble::Fault lost = webdouble::Fault::status(502);
    lost.times = 1;
    server.setFault("/push/", lost, "POST");
    captureAndReceive(*a, text, *b);
    expectOk(*a, a->call(QStringLiteral("delete ") + hash));

    expectOk(*a, a->call(QStringLiteral("pull")));
    expectOk(*b, b->call(QStringLiteral("waitgone ") + hash));
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes(userId).isEmpty(); })) << serverLog();
    expectOk(*a, a->call(QStringLiteral("pull")));
    expectOk(*b, b->call(QStringLiteral("pull")));
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 0"));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 0"));
    EXPECT_TRUE(serverHashes(userId).isEmpty());
}

// The service lost a clip and B posted it again under a new id; A still holds the old one. A's
// delete meets "no longer here" (-10) for the old id; A's next pull names the new id, which A
// then deletes, and B loses the clip too.
TEST_F(TwoDevices, AClipRePostedUnderANewIdIsDeletedUnderTheIdTheServiceHasNow)
{
    loginBoth();
    const QString text = QStringLiteral("posted again by the other device");
    const QString hash = md5HexOfString(text);
    captureAndReceive(*a, text, *b);
    // Both devices' body transfers have ended first: one still on its way would meet the moved
    // clip, and its "no such clip" would leave that row without the old id, kept as owed.
    expectOk(*a, a->call(QStringLiteral("waitsynced ") + hash));
    expectOk(*b, b->call(QStringLiteral("waitsynced ") + hash));
    const qint64 oldId = serverClip(userId, hash).value(QStringLiteral("history_id")).toInteger();
    qint64 newId = 0;
    {
        auto lock = server.lock();
        newId = server.clipRoutes().repostUnderNewId(userId, hash);
    }
    ASSERT_GT(newId, oldId);

    expectOk(*a, a->call(QStringLiteral("delete ") + hash));
    auto deleted = [&](qint64 id) {
        for (const auto& request : server.requestsTo("/push/"))
            if (request.method == "DELETE" && request.query.find("&history_id=" + std::to_string(id)) != std::string::npos)
                return true;
        return false;
    };
    ASSERT_TRUE(testenv::waitUntil([&] { return deleted(oldId); })) << serverLog() << a->output().toStdString();
    EXPECT_TRUE(serverHashes(userId).contains(hash));

    expectOk(*a, a->call(QStringLiteral("pull")));
    ASSERT_TRUE(testenv::waitUntil([&] { return deleted(newId); })) << serverLog();
    expectOk(*b, b->call(QStringLiteral("waitgone ") + hash));
    EXPECT_TRUE(serverHashes(userId).isEmpty());
    expectOk(*a, a->call(QStringLiteral("pull")));
    expectOk(*b, b->call(QStringLiteral("pull")));
    EXPECT_EQ(a->call(QStringLiteral("count")), QStringLiteral("ok 0"));
    EXPECT_EQ(b->call(QStringLiteral("count")), QStringLiteral("ok 0"));
}

// The service's clock runs ten minutes ahead of both devices, and another client of the broker
// republishes every message of the service without its device token and with made-up ids,
// during the posts and the uploads. A clear made on A removes on B only what the service held
// then; clips copied after it on either device, stamped by clocks behind the service's clear
// time, stay on the service and on both devices.
TEST_F(TwoDevices, ClocksSetApartAndARepublishingBrokerClientLoseNoClip)
{
    server.setClockOffset(std::chrono::minutes(10));
    loginBoth();
    webdouble::MqttPublisher hostile;
    ASSERT_TRUE(hostile.connect("127.0.0.1", broker.port(), "pubclient", "4d2c9e17"));
    size_t republished = 0;
    auto republish = [&] {
        const auto published = server.published();
        for (; republished < published.size(); ++republished) {
            const auto& message = published[republished];
            QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(message.payload)).object();
            QJsonObject data = object.value(QStringLiteral("data")).toObject();
            data.remove(QStringLiteral("device_token"));
            object.insert(QStringLiteral("data"), data);
            hostile.publish(message.topic, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
            if (data.contains(QStringLiteral("history_id"))) {
                data.insert(QStringLiteral("history_id"), data.value(QStringLiteral("history_id")).toInteger() + 5000);
                data.insert(QStringLiteral("file_id"), data.value(QStringLiteral("file_id")).toInteger() + 5000);
                object.insert(QStringLiteral("data"), data);
                hostile.publish(message.topic, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
            }
        }
    };

    const QString before = QStringLiteral("held by the service before the clear");
    b->send(QStringLiteral("waitrow ") + md5HexOfString(before));
    expectOk(*a, a->call(QStringLiteral("capture ") + before));
    republish();
    expectOk(*b, b->answer());

    // The clear, at the service's time, ten minutes after both devices' clocks.
    b->send(QStringLiteral("waitgone ") + md5HexOfString(before));
    expectOk(*a, a->call(QStringLiteral("clear")));
    republish();
    expectOk(*b, b->answer());

    // The bodies wait at the service while the republished hints arrive.
    auto uploads = std::make_shared<webdouble::Gate>();
    server.setFault("/get_upload_token/", webdouble::Fault::held(uploads));
    QStringList after;
    for (int i = 0; i < 3; ++i) {
        after << QStringLiteral("copied on A after the clear, %1").arg(i);
        expectOk(*a, a->call(QStringLiteral("capture ") + after.last()));
        republish();
    }
    after << QStringLiteral("copied on B after the clear");
    expectOk(*b, b->call(QStringLiteral("capture ") + after.last()));
    republish();
    for (const QString& text : after) {
        expectOk(*a, a->call(QStringLiteral("waitrow ") + md5HexOfString(text)));
        expectOk(*b, b->call(QStringLiteral("waitrow ") + md5HexOfString(text)));
    }
    uploads->open();
    server.clearFaults();
    // Pulls by hand on both, the hostile copies still arriving.
    expectOk(*a, a->call(QStringLiteral("pull")));
    republish();
    expectOk(*b, b->call(QStringLiteral("pull")));
    republish();
    expectOk(*a, a->call(QStringLiteral("pull")));

    QSet<QString> expected;
    for (const QString& text : after)
        expected.insert(md5HexOfString(text));
    EXPECT_EQ(serverHashes(userId), expected) << serverLog();
    // Every body reached the service: no hint stood in for an upload.
    for (const QString& text : after) {
        EXPECT_TRUE(testenv::waitUntil([&] {
            return serverClip(userId, md5HexOfString(text)).value(QStringLiteral("file_ready")).toInteger() == 1;
        })) << text.toStdString() << serverLog();
    }
    for (DeviceDriver* device : {a.get(), b.get()}) {
        EXPECT_EQ(device->call(QStringLiteral("count")), QStringLiteral("ok 4")) << device->output().toStdString();
        for (const QString& text : after) {
            const QString row = device->call(QStringLiteral("waitrow ") + md5HexOfString(text));
            EXPECT_EQ(row.section(QLatin1Char(' '), 2), text);
        }
    }
}
