#pragma once

#include <QMutex>
#include <QUrl>

#include <memory>

// Implemented by the application delegate to open URLs with the desktop.
class ClipAppDelegate {
public:
    virtual ~ClipAppDelegate() = default;
    virtual void openURL(const QUrl& url) = 0;
};

// URL opening through the application. Callable from any thread: the URL is handed to the
// main thread without waiting (plugins call it from their queue while the main thread may
// be waiting for that queue).
class ClipAppHelper {
public:
    static ClipAppHelper& sharedInstance();

    std::shared_ptr<ClipAppDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<ClipAppDelegate>& delegate);

    // Drops the URL when it is empty or there is no delegate.
    void openURL(const QUrl& url);

private:
    ClipAppHelper() = default;
    mutable QMutex m_mutex;
    std::weak_ptr<ClipAppDelegate> m_delegate;
};
