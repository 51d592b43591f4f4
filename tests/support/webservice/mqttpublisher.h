#pragma once

#include <string>

struct mosquitto;

namespace webdouble {

// Publishes the double's MQTT messages to a broker through libmosquitto, with a network
// loop thread of its own.
class MqttPublisher {
public:
    MqttPublisher();
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Connects (the broker's answer arrives on the loop thread; publishes before it wait).
    bool connect(const std::string& host, int port, const std::string& user, const std::string& password);
    // QoS 1, not retained.
    bool publish(const std::string& topic, const std::string& payload);

private:
    mosquitto* m_client = nullptr;
    bool m_loopRunning = false;
};

}  // namespace webdouble
