#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// Receives transfer progress on the main thread (the status item's spinner).
class ProgressProtocol {
public:
    virtual ~ProgressProtocol() = default;
    virtual void setProgress(float fraction, bool animated) = 0;
};

// A transfer's counts: bytes received and bytes expected (-1 when unknown).
struct TransferProgress {
    qint64 completedUnitCount = 0;
    qint64 totalUnitCount = 0;
};

// Carries body-download progress from any thread to the one global receiver.
class ProgressManager {
public:
    static ProgressManager& sharedInstance();

    // Held weakly: a receiver that is gone gets nothing.
    void registerGlobalProgress(const std::shared_ptr<ProgressProtocol>& receiver);

    // Any thread; returns at once. The receiver gets completed/total on the main thread, in
    // the order of the reports.
    void progress(const TransferProgress& progress, const QString& hash);
    // Any thread: the transfer ended without a final report (it failed, or its length was
    // unknown), so the receiver gets exactly 1 and stops showing progress.
    void progressEnded(const QString& hash);

private:
    ProgressManager() = default;
    void deliver(float fraction);

    std::weak_ptr<ProgressProtocol> m_globalCallback;  // main thread only
};
