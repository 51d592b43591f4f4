#pragma once

// The watcher on the real X11 clipboard of the test's private X server, polled by its own
// timer, with the real database and clip files under the test's home.

#include "app/clipcontroller.h"
#include "platform/pasteboard.h"
#include "platform/pastekeystroke.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <chrono>

class ClipX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        DBFetcher::resetSharedInstance();
        ConfigureManager::sharedInstance().resetForTests();
        watcher = &ClipController::sharedInstance();
        // Nothing of an earlier test's polls counts here, nor what it left on the clipboard.
        watcher->resetForTests();
        Pasteboard::general().clearContents();
        watcher->setPollInterval(std::chrono::milliseconds(50));
    }
    void TearDown() override
    {
        watcher->setPollInterval(std::chrono::hours(1));
        watcher->waitForCaptures();
        DBFetcher::resetSharedInstance();
        // Their display connections close now, while the private X server still runs.
        PasteKeystroke::setCurrent(nullptr);
        Pasteboard::setGeneral(nullptr);
    }

    // The stored history row of the hash, or null.
    static HistoryModelPtr row(const QString& hash)
    {
        auto clip = std::make_shared<HistoryModel>();
        clip->setFile_hash(hash);
        if (!clip->isExist())
            return nullptr;
        clip->fetch();
        return clip;
    }
    // Lets the timer poll until the clip of that hash is stored.
    static HistoryModelPtr waitForRow(const QString& hash)
    {
        HistoryModelPtr found;
        testenv::waitUntil([&] { return (found = row(hash)) != nullptr; }, std::chrono::milliseconds(10000));
        return found;
    }

    // Waits for the watcher's poll to see a pasteboard change after the count it had seen.
    bool waitForPollAfter(qint64 seen) const
    {
        return testenv::waitUntil([&] { return watcher->lastChangedCount() != seen; }, std::chrono::milliseconds(10000));
    }

    ClipController* watcher = nullptr;
};
