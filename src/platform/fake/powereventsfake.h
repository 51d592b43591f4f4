#pragma once

#include "platform/powerevents.h"

// Sleep and wake on demand: each call emits its signal at once.
class PowerEventsFake : public PowerEvents {
public:
    using PowerEvents::PowerEvents;

    void simulateSleep() { emit willSleep(); }
    void simulateWake() { emit didWake(); }
};
