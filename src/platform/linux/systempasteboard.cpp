#include "platform/linux/systempasteboard.h"

#include "platform/dispatch.h"
#include "platform/pasteboardimage.h"
#include "platform/pasteboardmimedata.h"
#include "platform/x11/x11selectionrefusal.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <spdlog/spdlog.h>

namespace {

// Whether the content this process put on the clipboard can be given as the X11 target.
bool servesTarget(const QByteArray& target)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    // Not ours, or nothing known of it: Qt answers as it always does.
    if (!data || !clipboard->ownsClipboard())
        return true;
    if (target == "UTF8_STRING" || target == "STRING" || target == "TEXT" || target == "COMPOUND_TEXT"
        || target.startsWith("text/plain"))
        return data->hasText();
    // A MIME type is served when the content has it; other names (PIXMAP...) are Qt's to judge.
    if (target.contains('/'))
        return data->formats().contains(QString::fromLatin1(target));
    return true;
}

// QClipboard belongs to the main thread; touching it elsewhere races the event loop.
bool onMainThread(const char* operation)
{
    if (dispatch::isMainThread() && QGuiApplication::clipboard())
        return true;
    spdlog::error("Pasteboard {} refused: not on the main thread of a GUI application", operation);
    return false;
}

}  // namespace

SystemPasteboard::SystemPasteboard()
{
    // Here, on the main thread, before the capture queue decodes anything.
    PasteboardImage::allowLargeImages();
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        // The clipboard object is the context, so the count is bumped on the main thread
        // whichever thread made this object.
        m_changed = QObject::connect(clipboard, &QClipboard::dataChanged, clipboard,
                                     [this] {
                                         m_count.fetch_add(1, std::memory_order_relaxed);
                                         announceChange();
                                     });
    } else {
        spdlog::error("Pasteboard without a GUI application: the change count will not move");
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_refusal = std::make_unique<X11SelectionRefusal>(servesTarget);
}

SystemPasteboard::~SystemPasteboard()
{
    QObject::disconnect(m_changed);
}


qint64 SystemPasteboard::changeCount() const
{
    return m_count.load(std::memory_order_relaxed);
}

PasteboardSnapshot SystemPasteboard::snapshot()
{
    if (!onMainThread("read"))
        return {};
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return {};
    return PasteboardSnapshot::fromMimeData(*data);
}

void SystemPasteboard::clearContents()
{
    if (!onMainThread("clear"))
        return;
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void SystemPasteboard::writeString(const QString& text)
{
    if (!onMainThread("write"))
        return;
    QGuiApplication::clipboard()->setMimeData(PasteboardMimeData::forString(text).release(),
                                              QClipboard::Clipboard);
}

bool SystemPasteboard::writeImageData(const QByteArray& data)
{
    if (!onMainThread("write"))
        return false;
    auto content = PasteboardMimeData::forImageData(data);
    if (!content) {
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        return false;
    }
    QGuiApplication::clipboard()->setMimeData(content.release(), QClipboard::Clipboard);
    return true;
}

void SystemPasteboard::writeFileURL(const QString& path)
{
    if (!onMainThread("write"))
        return;
    QGuiApplication::clipboard()->setMimeData(PasteboardMimeData::forFileURL(path).release(),
                                              QClipboard::Clipboard);
}
