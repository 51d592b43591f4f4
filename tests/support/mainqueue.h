#pragma once

#include "support/testenv.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <memory>

namespace testenv {

// The positive signal before a test asserts that nothing (more) happened: a marker queued
// on the main queue now runs only after everything queued there before it, so once it has
// run, every notification, rebuild or paste already posted to the main queue has run too.
inline bool waitForMainQueue()
{
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [done] { *done = true; }, Qt::QueuedConnection);
    return waitUntil([done] { return *done; });
}

}  // namespace testenv
