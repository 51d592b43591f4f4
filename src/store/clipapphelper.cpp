#include "store/clipapphelper.h"

#include "platform/dispatch.h"

ClipAppHelper& ClipAppHelper::sharedInstance()
{
    static ClipAppHelper instance;
    return instance;
}

std::shared_ptr<ClipAppDelegate> ClipAppHelper::delegate() const
{
    QMutexLocker lock(&m_mutex);
    return m_delegate.lock();
}

void ClipAppHelper::setDelegate(const std::shared_ptr<ClipAppDelegate>& delegate)
{
    QMutexLocker lock(&m_mutex);
    m_delegate = delegate;
}

void ClipAppHelper::openURL(const QUrl& url)
{
    if (url.isEmpty())
        return;
    auto run = [this, url] {
        if (auto d = delegate())
            d->openURL(url);
    };
    if (dispatch::isMainThread())
        run();
    else
        dispatch::mainAsync(run);
}
