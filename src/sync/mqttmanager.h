#pragma once

// The MQTT push channel: one connection to the broker while a user is logged in, listening
// on the user's topic for changes made on the user's other devices.
//
// Not built yet: connecting and closing do nothing.
class MqttManager {
public:
    static MqttManager& sharedInstance();

    // Connects when a user is logged in and the client is not connected yet.
    void connect();
    // Subscribes to the user's topic.
    void subscribe();
    // Installs the message handler on the client.
    void messageHandle();
    // Disconnects the client.
    void close();
    // The "USER_LOGOUTED" observer: close.
    void userLogout();

private:
    MqttManager() = default;
};
