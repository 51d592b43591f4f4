#include "platform/fake/pastekeystrokefake.h"

#include <spdlog/spdlog.h>

bool PasteKeystrokeFake::postCommandV()
{
    if (!hasEventSource) {
        spdlog::error("No event source");
        return false;
    }
    ++posted;
    if (onPost)
        onPost();
    return true;
}

std::optional<QString> PasteKeystrokeFake::keyStringForKeyCode(int keyCode)
{
    const auto it = layout.find(keyCode);
    if (keyCode < 0 || it == layout.end())
        return std::nullopt;
    return it->second;
}
