#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

// What one alert shows: a message, an optional informative text below it and its buttons.
struct Alert {
    enum class Icon { None, Information, Warning, Critical };

    QString messageText;
    QString informativeText;
    // Button titles, left to right as the user reads them. Empty: the platform's single
    // default button (answered as index 0).
    QStringList buttons;
    // The button Return presses.
    int defaultButton = 0;
    // The button Escape and closing the alert answer with; -1 means the last button.
    int escapeButton = -1;
    Icon icon = Icon::None;

    // The index Escape and closing the alert answer with.
    int escapeIndex() const;
};

// Every alert of the app goes through here, so each window flow can be run offscreen by a
// test that scripts the user's answers (AlertsFake) instead of a nested event loop.
//
// show() returns at once; the alert is window-modal over the window that holds `parent`
// (application-modal without one) and the answer is called later, once, on the main thread,
// with the index of the button the user chose. A flow that must go on only after the user
// has read the alert goes on in the answer. The answer is not called when `parent` is
// destroyed first.
class Alerts {
public:
    using Answer = std::function<void(int button)>;

    virtual ~Alerts() = default;

    virtual void show(QWidget* parent, const Alert& alert, Answer answer = {}) = 0;

    // Shortcut for the common message with the single default button.
    void inform(QWidget* parent, const QString& messageText, const QString& informativeText = {},
                Answer answer = {});

    // The alerts the app uses: QMessageBox alerts unless a test put a fake in their place.
    static Alerts& current();
    // nullptr goes back to the real alerts.
    static void setCurrent(std::shared_ptr<Alerts> alerts);
};
