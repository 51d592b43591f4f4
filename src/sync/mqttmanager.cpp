#include "sync/mqttmanager.h"

MqttManager& MqttManager::sharedInstance()
{
    static MqttManager instance;
    return instance;
}

void MqttManager::connect() {}

void MqttManager::subscribe() {}

void MqttManager::messageHandle() {}

void MqttManager::close() {}

void MqttManager::userLogout()
{
    close();
}
