#pragma once

#include <QObject>
#include <QString>

// The notice that a file was saved into "~/Downloads". macOS spreads it to every process as
// the distributed notification "com.apple.DownloadFileFinished"; Linux desktops have no peer,
// so it stays inside the app as a signal whoever cares can connect to.
class DownloadSignal : public QObject {
    Q_OBJECT
public:
    static inline const QString kName = QStringLiteral("com.apple.DownloadFileFinished");

    static DownloadSignal& sharedInstance();

    // Only after the file is completely written. From any thread; the signal is emitted on the
    // main thread, after this call returns.
    void postDownloadFileFinished(const QString& path);

signals:
    void downloadFileFinished(const QString& path);

private:
    DownloadSignal();
};
