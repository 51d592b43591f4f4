#include "platform/downloadsignal.h"

#include "platform/dispatch.h"

#include <QCoreApplication>

#include <spdlog/spdlog.h>

DownloadSignal& DownloadSignal::sharedInstance()
{
    static DownloadSignal instance;
    return instance;
}

DownloadSignal::DownloadSignal()
{
    // First use may be on a worker thread; the signal belongs to the main thread.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

void DownloadSignal::postDownloadFileFinished(const QString& path)
{
    spdlog::info("saved to Downloads: {}", path.toStdString());
    dispatch::mainAsync([path] { emit DownloadSignal::sharedInstance().downloadFileFinished(path); });
}
