#pragma once

#include "platform/pasteboard.h"

#include <QMetaObject>

#include <atomic>
#include <memory>

class X11SelectionRefusal;

// The pasteboard over QClipboard (the X11 CLIPBOARD selection under xcb; an in-process
// clipboard on the offscreen platform). Create it on the main thread once the application
// object exists; the count follows QClipboard::dataChanged from then on.
class SystemPasteboard : public Pasteboard {
public:
    SystemPasteboard();
    ~SystemPasteboard() override;

    SystemPasteboard(const SystemPasteboard&) = delete;
    SystemPasteboard& operator=(const SystemPasteboard&) = delete;

    qint64 changeCount() const override;
    PasteboardSnapshot snapshot() override;
    void clearContents() override;
    void writeString(const QString& text) override;
    bool writeImageData(const QByteArray& data) override;
    void writeFileURL(const QString& path) override;

private:
    std::atomic<qint64> m_count{1};
    QMetaObject::Connection m_changed;
    // Under xcb: other clients asking for a target our content lacks are refused at once.
    std::unique_ptr<X11SelectionRefusal> m_refusal;
};
