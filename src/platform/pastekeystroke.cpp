#include "platform/pastekeystroke.h"

#include "platform/x11/x11pastekeystroke.h"

#include <QMutex>

#include <spdlog/spdlog.h>

namespace {
QMutex g_mutex;
std::shared_ptr<PasteKeystroke> g_current;
}  // namespace

PasteKeystroke& PasteKeystroke::current()
{
    QMutexLocker lock(&g_mutex);
    if (!g_current)
        g_current = std::make_shared<X11PasteKeystroke>();
    return *g_current;
}

void PasteKeystroke::setCurrent(std::shared_ptr<PasteKeystroke> keystroke)
{
    QMutexLocker lock(&g_mutex);
    g_current = std::move(keystroke);
}

bool postCommandV()
{
    return PasteKeystroke::current().postCommandV();
}

std::optional<QString> keyStringForKeyCode(int keyCode)
{
    return PasteKeystroke::current().keyStringForKeyCode(keyCode);
}

bool FakePasteKeystroke::postCommandV()
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

std::optional<QString> FakePasteKeystroke::keyStringForKeyCode(int keyCode)
{
    const auto it = layout.find(keyCode);
    if (keyCode < 0 || it == layout.end())
        return std::nullopt;
    return it->second;
}
