#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QHash>

#include <functional>

// Answers at once, with a refusal, another client's request for a target of our CLIPBOARD
// selection that the content cannot give (text while an image is on it). Qt's own handler
// tells such a client the data is ready without writing any, and the client then waits for
// it until its own time-out. Targets of the protocol (TARGETS, MULTIPLE, TIMESTAMP...) and
// those the content has are left to Qt. Main thread, xcb platform only.
class X11SelectionRefusal : public QAbstractNativeEventFilter {
public:
    // Whether the content on our selection can be given as the target (its atom's name:
    // "UTF8_STRING", "image/png"); asked only while this process owns the selection.
    using Serves = std::function<bool(const QByteArray& target)>;

    explicit X11SelectionRefusal(Serves serves);
    ~X11SelectionRefusal() override;

    X11SelectionRefusal(const X11SelectionRefusal&) = delete;
    X11SelectionRefusal& operator=(const X11SelectionRefusal&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QByteArray atomName(unsigned long atom);

    Serves m_serves;
    QHash<unsigned long, QByteArray> m_names;
    unsigned long m_clipboardAtom = 0;
};
