#pragma once

#include <QPointer>

class EncMainViewController;
class QObject;
class QWidget;

// The encryption window ("端对端加密"): one window for the life of the program, made on
// first show, whose only content is the EncMainViewController. Closing it only hides it.
// Main thread only.
class EncryptWindowController {
public:
    static EncryptWindowController& sharedInstance();

    EncryptWindowController(const EncryptWindowController&) = delete;
    EncryptWindowController& operator=(const EncryptWindowController&) = delete;

    // Shows the window in front, making it on first use.
    void showWindow(QObject* sender = nullptr);
    // Starts the set-up flow of the view, whatever the key state (the server is asked).
    void activeEncrypt();

    // The window and its view; null until first shown.
    QWidget* window() const;
    EncMainViewController* contentViewController() const;

    // Tests only: destroys the window, so the next show makes a new one.
    void resetForTesting();

private:
    EncryptWindowController() = default;
    void windowDidLoad();

    QPointer<QWidget> m_window;
    QPointer<EncMainViewController> m_content;
};
