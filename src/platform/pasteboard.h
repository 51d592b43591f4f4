#pragma once

#include "platform/pasteboardsnapshot.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// The general pasteboard: the desktop's clipboard as the watcher and the write-back see it.
//
// Everything here runs on the main thread, where the clipboard lives; a call from another
// thread is refused (logged, nothing read or written). The one exception is changeCount(),
// which any thread may read. Work on the content off the main thread goes through a
// snapshot.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Goes up with every change of the content, this system's own writes included. Starts
    // at 1, so the first poll after start sees a count it has not acted on. Reading it is
    // cheap (no round trip to the display server): the watcher polls it several times a
    // second.
    virtual qint64 changeCount() const = 0;

    // The current content, read now.
    virtual PasteboardSnapshot snapshot() = 0;

    // Every write replaces the whole content and goes up the change count (clearing a
    // pasteboard that holds nothing may leave the count as it is).

    // Empties the pasteboard.
    virtual void clearContents() = 0;
    // Plain text.
    virtual void writeString(const QString& text) = 0;
    // Image data (TIFF, or a PNG, JPEG, GIF from another device) under its real type, plus a
    // PNG copy when it is no PNG. Data that is no image empties the pasteboard and returns
    // false.
    virtual bool writeImageData(const QByteArray& data) = 0;
    // A reference to the file at this path (as file managers paste it) plus the path as text.
    virtual void writeFileURL(const QString& path) = 0;

    // The system clipboard unless a test set another.
    static Pasteboard& general();
    // Replaces the general pasteboard (tests); nullptr restores the system one.
    static void setGeneral(std::shared_ptr<Pasteboard> pasteboard);

    // Called on the main thread soon after the content of a pasteboard changed (this
    // system's own writes included), so the watcher need not wait for its next poll. A hint
    // only: the desktop may merge or miss changes, the count stays the truth. One observer
    // for the process; an empty function removes it.
    static void setChangeObserver(std::function<void()> observer);

protected:
    // Implementations call this, from any thread and with no lock held, after their count
    // went up.
    static void announceChange();
};
