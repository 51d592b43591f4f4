#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

class MqttMessageHandler;
class QObject;
class QTimer;
class SerialQueue;
struct mosquitto;
struct mosquitto_message;

// The MQTT push channel: one connection to the broker while a user is logged in, listening
// on "user_id_<user id>" for changes made on the user's other devices (a deleted clip, a
// cleared history, a pushed clip) and applying them here. It never publishes.
//
// The client (id: the device token, clean session, user "pubclient", keep-alive 60 s) runs
// its network loop on libmosquitto's own thread and reconnects by itself 1 s after a lost
// connection. Everything it reports is copied and handed to the main thread, where all of
// this class's state lives and every operation below must be called. Starting and stopping
// the client (a host name lookup, joining the loop thread) runs on a serial queue of its own,
// "mqtt control", so the main thread never waits on the network.
//
// Each acknowledged subscription (start, wake, login, a reconnection) is followed by one
// catch-up pull (CatchUpManager), since a clean session never delivers what was published
// while the device was not subscribed.
//
// A refused connection (the broker's non-zero answer, or a connect that fails at once) stops
// the client's loop, so libmosquitto does not keep retrying on its own, and tries again 5 s
// later while a user is logged in: one connection attempt at a time.
//
// A payload that is too large is dropped on the loop thread; every other message of the
// current connection goes to MqttMessageHandler on the main thread, which decides what it
// changes.
class MqttManager {
public:
    static MqttManager& sharedInstance();

    // Where the broker lives unless "mqttHost" / "mqttPort" say otherwise.
    static constexpr QLatin1String kBuiltinHost{"mqtt.nuvarel.app"};
    static constexpr int kBuiltinPort = 1883;
    static constexpr const char* kUserName = "pubclient";
    static constexpr int kKeepAliveSeconds = 60;
    static constexpr int kRetryMilliseconds = 5000;
    // Real messages are a few hundred bytes; anything far larger is not one of ours.
    static constexpr int kMaxPayloadBytes = 64 * 1024;

    // Connects when a user is logged in and the client is neither connected nor connecting.
    void connect();
    // Subscribes to the user's topic at QoS 1.
    void subscribe();
    // Installs the message handler on the client.
    void messageHandle();
    // Disconnects the client and cancels a pending retry.
    void close();
    // The "USER_LOGOUTED" observer: close.
    void userLogout();
    // Application exit: closes the channel and waits until the client's loop thread has
    // ended, so nothing it reports (a disconnection from a broker that went away) comes after
    // the logger is gone. Does nothing when the channel was never made. Main thread.
    static void finishIfMade();
    // close(), then the wait for the loop thread; the channel may connect again afterwards.
    void finish();

    // The broker accepted the connection and it has not been lost or closed since.
    bool isConnected() const { return m_connected; }
    // The broker acknowledged the subscription of the current connection.
    bool isSubscribed() const { return m_subscribed; }
    // A connection is open or being made (the client's loop runs).
    bool isActive() const { return m_loopRunning; }
    // A retry after a refusal is waiting.
    bool isRetryPending() const;
    // The topic of the logged-in user; empty when there is none.
    static QString topic();
    // No fetch or pull that a message started is still running or waiting.
    bool isSettled() const;
    // How many messages have been handed to the handler since start (main thread): a test's
    // positive signal that what it published has been seen.
    quint64 messagesHandled() const { return m_messagesHandled; }

    // Tests only: closed, a new client for the current device token, no retry pending.
    void resetForTesting();

private:
    MqttManager();
    ~MqttManager();

    // On the control queue.
    void makeClient();
    void destroyClient();
    void startClient(quint64 generation, const QByteArray& host, int port);
    // Stops the loop thread (never from inside one of the callbacks below).
    void stopClient();
    // Main thread: the connection is over; the control queue stops the client.
    void stopLoop();
    void startFailed(quint64 generation);
    void scheduleRetry();

    // On the main thread, for the connection the generation names.
    void connectResult(quint64 generation, int returnCode);
    void connectionLost(quint64 generation, int reason);
    void handleMessage(quint64 generation, const QByteArray& topic, const QByteArray& payload);


    // libmosquitto's callbacks, on its loop thread.
    static void onConnect(mosquitto* client, void* self, int returnCode);
    static void onDisconnect(mosquitto* client, void* self, int reason);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* grantedQos);

    // Made, started, stopped and destroyed only on m_control.
    mosquitto* m_client = nullptr;
    std::unique_ptr<SerialQueue> m_control;
    // Main-thread state.
    bool m_loopRunning = false;
    bool m_connected = false;
    bool m_subscribed = false;
    QObject* m_context = nullptr;
    QTimer* m_retryTimer = nullptr;
    std::unique_ptr<MqttMessageHandler> m_messages;
    quint64 m_messagesHandled = 0;
    // Names the current connection; the loop thread reads it to tag what it hands over, so
    // reports of a closed connection are told apart and dropped.
    std::atomic<quint64> m_generation{0};
};
