#pragma once

// Qt's own texts in Simplified Chinese, as the rest of the interface: the buttons and labels
// of its stock dialogs (the file dialog's "Open", "Look in:", "Cancel", a message box's
// buttons) and of its widgets' context menus.
//
// Main thread only, once an application object exists.
class QtTranslations {
public:
    // Installs Qt's Simplified Chinese catalogue (Debian's qt6-translations-l10n) once; false
    // when the system has none, and Qt's English stays.
    static bool install();
    // Tests only: takes the catalogue out again.
    static void removeForTesting();
};
