#include "store/digest.h"
#include "support/mosquittobroker.h"
#include "support/syncdevice/devicedriver.h"
#include "support/testenv.h"
#include "support/webservice/webservicedouble.h"

#include <QDateTime>

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
        server.addAccount(kEmail, kPassword);
        a = std::make_unique<DeviceDriver>(server.baseURL(), broker.port(), QString(32, u'a'));
        b = std::make_unique<DeviceDriver>(server.baseURL(), broker.port(), QString(32, u'b'));
        ASSERT_TRUE(a->started()) << a->output().toStdString();
        ASSERT_TRUE(b->started()) << b->output().toStdString();
    }

    // Each device's answer starts with "ok"; the device's output explains a failure.
    static void expectOk(DeviceDriver& device, const QString& answer)
    {
        ASSERT_TRUE(answer.startsWith(QStringLiteral("ok"))) << answer.toStdString() << "\n" << device.output().toStdString();
    }

    inline static const QString kEmail = QStringLiteral("two@example.com");
    inline static const QString kPassword = QStringLiteral("correct-horse");
    inline static const QString kPin = QStringLiteral("1357");

    MosquittoBroker broker;
    webdouble::WebServiceDouble server;
    std::unique_ptr<DeviceDriver> a;
    std::unique_ptr<DeviceDriver> b;
};

}  // namespace

TEST_F(TwoDevices, AClipCapturedOnOneDeviceReachesTheOtherAndLeavesWithIt)
{
    const QString login = QStringLiteral("login %1 %2").arg(kEmail, kPassword);
    expectOk(*a, a->call(login));
    expectOk(*a, a->call(QStringLiteral("setupkey ") + kPin));
    expectOk(*b, b->call(login));
    expectOk(*b, b->call(QStringLiteral("unlock ") + kPin));

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
    b->send(QStringLiteral("waitrow ") + secondHash);
    expectOk(*a, a->call(QStringLiteral("capture ") + second));
    expectOk(*b, b->answer());
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
