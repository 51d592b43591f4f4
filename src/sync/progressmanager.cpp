#include "sync/progressmanager.h"

#include "platform/dispatch.h"

ProgressManager& ProgressManager::sharedInstance()
{
    static ProgressManager instance;
    return instance;
}

void ProgressManager::registerGlobalProgress(const std::shared_ptr<ProgressProtocol>& receiver)
{
    m_globalCallback = receiver;
}

void ProgressManager::progress(const TransferProgress& progress, const QString& hash)
{
    Q_UNUSED(hash);
    const TransferProgress copy = progress;
    dispatch::mainAsync([this, copy] {
        // Unknown totals give a negative fraction (NaN for 0/0): the spinner keeps going.
        const double fraction = static_cast<double>(copy.completedUnitCount) / static_cast<double>(copy.totalUnitCount);
        deliver(static_cast<float>(fraction));
    });
}

void ProgressManager::progressEnded(const QString& hash)
{
    Q_UNUSED(hash);
    dispatch::mainAsync([this] { deliver(1.0f); });
}

void ProgressManager::deliver(float fraction)
{
    if (auto receiver = m_globalCallback.lock())
        receiver->setProgress(fraction, false);
}
