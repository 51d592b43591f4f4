#pragma once

#include <QString>

#include <memory>
#include <optional>

// The synthetic paste: the platform's paste keystroke (Ctrl+V on X11, Command+V on macOS)
// posted to the front application after a clip was written to the pasteboard. Main thread
// only.
class PasteKeystroke {
public:
    virtual ~PasteKeystroke() = default;

    // Posts key-down then key-up of V with the paste modifier alone; true when both were
    // posted. Without a connection to the display it logs "No event source" and posts
    // nothing; without a V in the current keyboard layout it posts nothing.
    virtual bool postCommandV() = 0;

    // The character the key gives with no modifier in the current layout, upper-cased
    // ("V"); nothing for a negative or unknown key code or a key without a character.
    virtual std::optional<QString> keyStringForKeyCode(int keyCode) = 0;

    // The display's keystroke unless a test set another.
    static PasteKeystroke& current();
    // Replaces the current keystroke (tests); nullptr restores the system one.
    static void setCurrent(std::shared_ptr<PasteKeystroke> keystroke);
};

// The calls the write-back makes, on the current keystroke.
bool postCommandV();
std::optional<QString> keyStringForKeyCode(int keyCode);
