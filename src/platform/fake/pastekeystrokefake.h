#pragma once

#include "platform/pastekeystroke.h"

#include <QString>

#include <functional>
#include <map>
#include <optional>

// Records posts instead of sending keys.
class PasteKeystrokeFake : public PasteKeystroke {
public:
    // false: behaves as if there were no display ("No event source", nothing posted).
    bool hasEventSource = true;
    // Key code -> character, what keyStringForKeyCode answers.
    std::map<int, QString> layout;
    // Successful posts so far.
    int posted = 0;
    // Called at each successful post, e.g. to look at the pasteboard at that moment.
    std::function<void()> onPost;

    bool postCommandV() override;
    std::optional<QString> keyStringForKeyCode(int keyCode) override;
};
