#pragma once

// The watcher and write-back tests: the real controller, database and clip files under the
// test's home, with an in-memory pasteboard and a paste keystroke that records its posts.

#include "app/clipcontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/pasteboardimage.h"
#include "platform/fake/pastekeystrokefake.h"
#include "plugins/advanceprivacymanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/historytestsupport.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "support/storedrow.h"
#include "support/testenv.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace cliptest {

inline QImage picture(int seed = 0)
{
    QImage image(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba((x * 4 + seed) & 0xff, y * 5, (x ^ y ^ seed) & 0xff, 255));
    return image;
}

inline QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// The bytes a capture of this picture stores and hashes.
inline QByteArray clipTiff(const QImage& image)
{
    return PasteboardImage::tiffRepresentation(image).value_or(QByteArray());
}

inline QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = testenv::home() + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    return path;
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray uriList(const QString& path)
{
    return QUrl::fromLocalFile(path).toEncoded() + "\r\n";
}

class ClipTest : public historytest::HistoryDbTest {
protected:
    void SetUp() override
    {
        HistoryDbTest::SetUp();
        // Nothing of an earlier test's polls, interval or skiped text counts here; the poll
        // starts when the test starts it. (Made now, the controller polls a pasteboard of
        // its own, not the test's.)
        Pasteboard::setGeneral(std::make_shared<PasteboardFake>());
        ClipController::sharedInstance().resetForTests();
        pasteboard = std::make_shared<PasteboardFake>();
        Pasteboard::setGeneral(pasteboard);
        keystroke = std::make_shared<PasteKeystrokeFake>();
        keystroke->layout = {{9, QStringLiteral("V")}};
        PasteKeystroke::setCurrent(keystroke);
    }
    void TearDown() override
    {
        // A check the pasteboard asked for runs now, on this test's pasteboard, not in the next test.
        if (m_watcher)
            testenv::waitUntil([this] { return !m_watcher->changePending(); });
        if (m_watcher)
            m_watcher->waitForCaptures();
        HistoryDbTest::TearDown();
    }

    // The watcher, made on first use (which polls at once); the timer is set so long that
    // only the test polls.
    ClipController& watcher()
    {
        if (!m_watcher) {
            m_watcher = &ClipController::sharedInstance();
            m_watcher->setPollInterval(std::chrono::hours(1));
        }
        return *m_watcher;
    }
    // One poll and the capture it queued.
    void poll()
    {
        watcher().seekClipboard();
        watcher().waitForCaptures();
    }

    // Another application copies.
    void copyText(const QString& text) { pasteboard->offer({{QStringLiteral("text/plain"), text.toUtf8()}}); }
    void copyFile(const QString& path)
    {
        // File managers offer the name as text too.
        pasteboard->offer({{QStringLiteral("text/uri-list"), uriList(path)},
                           {QStringLiteral("text/plain"), path.mid(path.lastIndexOf('/') + 1).toUtf8()}});
    }
    void copyImage(const QByteArray& png) { pasteboard->offer({{QStringLiteral("image/png"), png}}); }

    static HistoryModelPtr row(const QString& hash, const QString& category = QString(ClipCategory::History))
    {
        return testrows::rowOf(hash, category);
    }
    static int rowCount()
    {
        historytest::RawDb db(historytest::dbPath());
        return db.scalar(QStringLiteral("select count(*) from History")).toInt();
    }
    static QString body(const QString& hash) { return PathHelper::getBaseFilePath(hash); }
    static QString zip(const QString& hash) { return PathHelper::getZipsFilePath(hash); }
    static void setRowTime(const QString& hash, qint64 time)
    {
        historytest::RawDb db(historytest::dbPath());
        ASSERT_TRUE(db.exec(QStringLiteral("update History set timeStamp = ? where file_hash = ?"), {time, hash}));
    }

    // The privacy script on, with this main.
    static void usePrivacyScript(const QString& script)
    {
        Utils::setAdvancePrivacy(true);
        AdvancePrivacyManager::sharedInstance().setScriptContent(script);
        ASSERT_EQ(AdvancePrivacyManager::sharedInstance().testScript(script), std::nullopt);
    }
    // A privacy script that notes each clip it judges in a file, one "from|extension|content"
    // line each, and answers the verdict. The editor's trial run (empty content) is not noted.
    static QString recordingScript(const QString& log, const QString& verdict = QStringLiteral("0"))
    {
        return QStringLiteral("function main(from, ext, content)\n"
                              "  if content ~= '' then\n"
                              "    local f = io.open([[%1]], 'a')\n"
                              "    f:write(from .. '|' .. ext .. '|' .. content .. '\\n')\n"
                              "    f:close()\n"
                              "  end\n"
                              "  return %2\n"
                              "end\n")
            .arg(log, verdict);
    }

    std::shared_ptr<PasteboardFake> pasteboard;
    std::shared_ptr<PasteKeystrokeFake> keystroke;

private:
    ClipController* m_watcher = nullptr;
};

}  // namespace cliptest
