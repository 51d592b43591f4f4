#include "platform/pastekeystroke.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<PasteKeystroke>& slot()
{
    static CurrentImplementation<PasteKeystroke> implementation(&makeRealPasteKeystroke);
    return implementation;
}
}  // namespace

PasteKeystroke& PasteKeystroke::current()
{
    return slot().get();
}

void PasteKeystroke::setCurrent(std::shared_ptr<PasteKeystroke> keystroke)
{
    slot().set(std::move(keystroke));
}

bool postCommandV()
{
    return PasteKeystroke::current().postCommandV();
}

std::optional<QString> keyStringForKeyCode(int keyCode)
{
    return PasteKeystroke::current().keyStringForKeyCode(keyCode);
}
