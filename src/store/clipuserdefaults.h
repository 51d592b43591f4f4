#pragma once

#include "platform/userdefaults.h"

// The settings store every part of the system shares.
class ClipUserDefaults {
public:
    static UserDefaults& standardUserDefaults() { return UserDefaults::standard(); }
};
