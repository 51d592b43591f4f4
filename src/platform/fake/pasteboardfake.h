#pragma once

#include "platform/pasteboard.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

class QMimeData;

// An in-memory pasteboard for tests. Writes build the same content the system pasteboard
// would put on the clipboard, and snapshots are read from it the same way; offer() plays
// another application copying something. Each change is announced to the change observer
// as the system one does. Unlike the system one it may be used from any thread.
class PasteboardFake : public Pasteboard {
public:
    PasteboardFake();
    ~PasteboardFake() override;

    qint64 changeCount() const override;
    PasteboardSnapshot snapshot() override;
    void clearContents() override;
    void writeString(const QString& text) override;
    bool writeImageData(const QByteArray& data) override;
    void writeFileURL(const QString& path) override;

    // Another application's copy: these (type, data) offers, in this order, replace the
    // content; each type's bytes are read back exactly as given, as from an X11 owner. No
    // offers leaves the pasteboard empty.
    void offer(const QList<std::pair<QString, QByteArray>>& offers);
    // The same with ready-made content (for example a QMimeData holding a QImage).
    void offerMimeData(std::unique_ptr<QMimeData> data);
    // Sets the count as it is, e.g. to 0 for a pasteboard that has not counted yet.
    void setChangeCount(qint64 count);

    // What is on the pasteboard now.
    QStringList types() const;
    QByteArray data(const QString& type) const;
    // How often snapshot() ran.
    int snapshotCount() const;

private:
    void replace(std::unique_ptr<QMimeData> data);

    mutable QMutex m_mutex;
    std::unique_ptr<QMimeData> m_content;
    qint64 m_count = 1;
    int m_snapshots = 0;
};
