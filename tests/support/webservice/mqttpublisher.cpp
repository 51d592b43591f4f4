#include "support/webservice/mqttpublisher.h"

#include <mosquitto.h>

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace webdouble {

namespace {
std::once_flag g_libInit;
std::atomic<unsigned> g_clientCounter{0};
}  // namespace

MqttPublisher::MqttPublisher()
{
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });
    const std::string id = "nuvarel-test-server-" + std::to_string(::getpid()) + "-" + std::to_string(++g_clientCounter);
    m_client = mosquitto_new(id.c_str(), true, nullptr);
}

MqttPublisher::~MqttPublisher()
{
    if (!m_client)
        return;
    if (m_loopRunning) {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
    }
    mosquitto_destroy(m_client);
}

bool MqttPublisher::connect(const std::string& host, int port, const std::string& user, const std::string& password)
{
    if (!m_client)
        return false;
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (mosquitto_username_pw_set(m_client, user.c_str(), password.c_str()) != MOSQ_ERR_SUCCESS)
        return false;
    if (mosquitto_connect(m_client, host.c_str(), port, 60) != MOSQ_ERR_SUCCESS)
        return false;
    if (mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
        return false;
    m_loopRunning = true;
    return true;
}

bool MqttPublisher::publish(const std::string& topic, const std::string& payload)
{
    if (!m_loopRunning)
        return false;
    return mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                             false)
           == MOSQ_ERR_SUCCESS;
}

}  // namespace webdouble
