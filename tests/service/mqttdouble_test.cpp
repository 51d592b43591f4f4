#include "support/mosquittobroker.h"
#include "support/testenv.h"
#include "support/webservice/webservicedouble.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

// A plain libmosquitto subscriber, as the app's channel would be.
class Subscriber {
public:
    Subscriber(const char* user, const char* password)
    {
        mosquitto_lib_init();
        m_client = mosquitto_new(nullptr, true, this);
        if (user)
            mosquitto_username_pw_set(m_client, user, password);
        mosquitto_connect_callback_set(m_client, [](mosquitto*, void* self, int rc) {
            static_cast<Subscriber*>(self)->m_connectResult = rc;
        });
        mosquitto_subscribe_callback_set(m_client, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(m_client, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto* me = static_cast<Subscriber*>(self);
            QMutexLocker lock(&me->m_mutex);
            me->m_messages.emplace_back(message->topic,
                                        std::string(static_cast<const char*>(message->payload),
                                                    static_cast<size_t>(message->payloadlen)));
        });
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, true);
        mosquitto_destroy(m_client);
    }
    bool connect(const MosquittoBroker& broker)
    {
        return mosquitto_connect(m_client, "127.0.0.1", broker.port(), 60) == MOSQ_ERR_SUCCESS
               && mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
    }
    void subscribe(const char* topic) { mosquitto_subscribe(m_client, nullptr, topic, 1); }
    int connectResult() const { return m_connectResult; }
    bool subscribed() const { return m_subscribed; }
    std::vector<std::pair<std::string, std::string>> messages()
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }

private:
    mosquitto* m_client = nullptr;
    std::atomic<int> m_connectResult{-1};
    std::atomic<bool> m_subscribed{false};
    QMutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_messages;
};

}  // namespace

TEST(BrokerAndDouble, TheDoublePublishesToTheUsersTopicThroughARealBroker)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    webdouble::WebServiceDouble server;
    ASSERT_TRUE(server.connectBroker("127.0.0.1", broker.port()));

    Subscriber subscriber(webdouble::WebServiceDouble::kBrokerUser, webdouble::WebServiceDouble::kBrokerPassword);
    ASSERT_TRUE(subscriber.connect(broker));
    ASSERT_TRUE(testenv::waitUntil([&] { return subscriber.connectResult() == 0; }));
    subscriber.subscribe("user_id_10001");
    ASSERT_TRUE(testenv::waitUntil([&] { return subscriber.subscribed(); }));

    server.publish(10002, QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 5}});
    server.publish(10001, QStringLiteral("history_delete"),
                   {{QStringLiteral("device_token"), QStringLiteral("d")}, {QStringLiteral("file_hash"), QStringLiteral("h")}});
    ASSERT_TRUE(testenv::waitUntil([&] { return !subscriber.messages().empty(); }));
    const auto messages = subscriber.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, "user_id_10001");
    const QJsonObject payload = QJsonDocument::fromJson(QByteArray::fromStdString(messages[0].second)).object();
    EXPECT_EQ(payload.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_delete"));
    EXPECT_EQ(payload.value(QStringLiteral("data")).toObject().value(QStringLiteral("file_hash")).toString(),
              QStringLiteral("h"));
    EXPECT_EQ(server.published().size(), 2u);
}

TEST(BrokerAndDouble, TheBrokerRefusesAnonymousAndWrongPasswords)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber anonymous(nullptr, nullptr);
    ASSERT_TRUE(anonymous.connect(broker));
    Subscriber wrong(webdouble::WebServiceDouble::kBrokerUser, "00000000");
    ASSERT_TRUE(wrong.connect(broker));
    ASSERT_TRUE(testenv::waitUntil([&] { return anonymous.connectResult() > 0 && wrong.connectResult() > 0; }));
    EXPECT_NE(anonymous.connectResult(), 0);
    EXPECT_NE(wrong.connectResult(), 0);
}
