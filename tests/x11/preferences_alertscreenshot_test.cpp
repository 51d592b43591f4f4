#include "windows/preferencesfixture.h"

#include "windows/encryption/encryptwindowcontroller.h"
#include "windows/preferences/generalviewcontroller.h"
#include "x11/pasteboardclients.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <QtEndian>

#include <optional>

using namespace std::chrono_literals;

namespace {

// The share of a window's pixels that are not black, read from `xwd -id` (the window's own
// pixels as the X server holds them); nothing when xwd failed or gave no picture we read.
std::optional<double> drawnShare(WId window)
{
    const ClientRun run = runClient(QStringLiteral("xwd"), {QStringLiteral("-silent"), QStringLiteral("-id"),
                                                            QString::number(window)});
    if (!run.finished || run.exitCode != 0 || run.output.size() < 100)
        return std::nullopt;
    const QByteArray& xwd = run.output;
    // The header: CARD32 fields, most significant byte first as xwd writes them here.
    const auto field = [&](int index) { return qFromBigEndian<quint32>(xwd.constData() + 4 * index); };
    const quint32 headerSize = field(0);
    const quint32 format = field(2);  // 2: ZPixmap
    const quint32 width = field(4);
    const quint32 height = field(5);
    const quint32 bitsPerPixel = field(11);
    const quint32 bytesPerLine = field(12);
    const quint32 colours = field(19);
    const qsizetype pixels = qsizetype(headerSize) + qsizetype(colours) * 12;
    // Pixels of depth 24 come in three or four bytes, as the server keeps them; bits_per_pixel
    // does not always say which, the line length does.
    const quint32 bytesPerPixel = width ? bytesPerLine / width : 0;
    if (format != 2 || bitsPerPixel < 24 || (bytesPerPixel != 3 && bytesPerPixel != 4) || height == 0
        || xwd.size() < pixels + qsizetype(bytesPerLine) * height)
        return std::nullopt;
    qsizetype drawn = 0;
    for (quint32 y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uchar*>(xwd.constData() + pixels + qsizetype(bytesPerLine) * y);
        for (quint32 x = 0; x < width; ++x) {
            const uchar* p = row + bytesPerPixel * x;
            // The three colour bytes, whatever their order (a fourth is padding).
            if (p[0] > 16 || p[1] > 16 || p[2] > 16)
                ++drawn;
        }
    }
    return double(drawn) / (double(width) * height);
}

QMessageBox* shownMessageBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Counts the paints a widget has had.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class PreferencesAlertX11 : public PreferencesTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        PreferencesTest::SetUp();
        EncryptWindowController::sharedInstance().resetForTesting();
        logInAs(QStringLiteral("lin@example.com"));
        // The alerts the user sees: Qt's message boxes, not the scripted ones.
        Alerts::setCurrent(nullptr);
    }
    void TearDown() override
    {
        if (QMessageBox* box = shownMessageBox())
            box->reject();
        drainMainQueue();
        EncryptWindowController::sharedInstance().resetForTesting();
        PreferencesTest::TearDown();
    }
};

}  // namespace

// With the encryption window open beside it, an alert of the preferences window is drawn: its
// own pixels (not the root window's, which xwd shows black for a later Qt window) are mostly
// not black.
TEST_F(PreferencesAlertX11, AnAlertOfThePreferencesIsDrawnWhileTheEncryptionWindowIsOpen)
{
    window();
    // The window shows its panel again after the login: let that happen first.
    drainMainQueue();
    auto* general = showPane<GeneralViewController>(0);
    ASSERT_NE(general, nullptr);
    ASSERT_TRUE(testenv::waitUntil([&] { return window().windowHandle() && window().windowHandle()->isExposed(); }));
    EncryptWindowController::sharedInstance().showWindow();
    QWidget* encryption = EncryptWindowController::sharedInstance().window();
    ASSERT_TRUE(testenv::waitUntil([&] { return encryption->windowHandle() && encryption->windowHandle()->isExposed(); }));

    general->clearButton()->click();
    QMessageBox* box = nullptr;
    ASSERT_TRUE(testenv::waitUntil([&] { return (box = shownMessageBox()) != nullptr; }));
    EXPECT_EQ(box->text(), QStringLiteral("清空历史纪录?"));
    EXPECT_EQ(box->parentWidget(), static_cast<QWidget*>(&window()));
    PaintCounter counter;
    box->installEventFilter(&counter);
    box->update();
    ASSERT_TRUE(testenv::waitUntil([&] { return box->windowHandle()->isExposed() && counter.paints > 0; }, 10s));
    box->removeEventFilter(&counter);
    // xwd reads what the server holds; the paint has been flushed once the event loop ran on.
    std::optional<double> share;
    ASSERT_TRUE(testenv::waitUntil([&] {
        share = drawnShare(box->winId());
        return share && *share > 0.5;
    }, 10s)) << "drawn share " << share.value_or(-1);
    EXPECT_TRUE(encryption->isVisible());
}
