#include "support/testenv.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/busyindicator.h"
#include "windows/messageboxalerts.h"
#include "windows/sheetdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

QMessageBox* openBox(QWidget* window)
{
    QMessageBox* found = nullptr;
    testenv::waitUntil([&] {
        for (QMessageBox* box : window->findChildren<QMessageBox*>())
            if (box->isVisible())
                found = box;
        return found != nullptr;
    });
    return found;
}

void pressKey(QWidget* widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// A sheet with a field, a cancel and a confirm button, counting what reaches it.
class CountingSheet : public SheetDialog {
public:
    explicit CountingSheet(bool cancellable = true)
        : m_cancellable(cancellable)
    {
        field = new QLineEdit(this);
        cancel = new QPushButton(QStringLiteral("取消"), this);
        confirm = new QPushButton(QStringLiteral("确定"), this);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(field);
        layout->addWidget(cancel);
        layout->addWidget(confirm);
        connect(confirm, &QPushButton::clicked, this, [this] { ++confirmed; });
        connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
        setDefaultButton(confirm);
    }
    QLineEdit* field;
    QPushButton* cancel;
    QPushButton* confirm;
    int confirmed = 0;
    int cancelled = 0;

protected:
    void cancelRequested() override
    {
        if (!m_cancellable)
            return;
        ++cancelled;
        dismiss();
    }

private:
    bool m_cancellable;
};

struct Window {
    Window()
    {
        widget.resize(400, 300);
        widget.show();
    }
    QWidget widget;
};

}  // namespace

TEST(MessageBoxAlerts, ShowsTextsWindowModalAndAnswersWithTheChosenButton)
{
    Window window;
    MessageBoxAlerts alerts;
    QList<int> answers;
    Alert alert;
    alert.messageText = QStringLiteral("警告");
    alert.informativeText = QStringLiteral("<b>不是标记</b>");
    alert.buttons = {QStringLiteral("继续"), QStringLiteral("取消")};
    alerts.show(&window.widget, alert, [&](int b) { answers << b; });

    QMessageBox* box = openBox(&window.widget);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), QStringLiteral("警告"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("<b>不是标记</b>"));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_TRUE(informative);
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    ASSERT_EQ(box->buttons().size(), 2);
    EXPECT_TRUE(answers.isEmpty());  // show() did not wait

    for (QAbstractButton* b : box->buttons())
        if (b->text() == QStringLiteral("取消"))
            b->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return !answers.isEmpty(); }));
    EXPECT_EQ(answers, QList<int>{1});
}

TEST(MessageBoxAlerts, EscapeAnswersWithTheEscapeButtonAndTheDefaultIsOneOkButton)
{
    struct Case {
        QStringList buttons;
        int escapeButton;
        int expected;
    };
    const QList<Case> cases = {
        {{}, -1, 0},
        {{QStringLiteral("好"), QStringLiteral("取消")}, -1, 1},
        {{QStringLiteral("取消"), QStringLiteral("好")}, 0, 0},
    };
    for (const Case& c : cases) {
        Window window;
        MessageBoxAlerts alerts;
        QList<int> answers;
        Alert alert;
        alert.messageText = QStringLiteral("消息");
        alert.buttons = c.buttons;
        alert.escapeButton = c.escapeButton;
        alerts.show(&window.widget, alert, [&](int b) { answers << b; });
        QMessageBox* box = openBox(&window.widget);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->buttons().size(), c.buttons.isEmpty() ? 1 : c.buttons.size());
        if (c.buttons.isEmpty()) {
            EXPECT_EQ(box->buttons().first()->text(), QStringLiteral("确定"));
        }
        pressKey(box, Qt::Key_Escape);
        ASSERT_TRUE(testenv::waitUntil([&] { return !answers.isEmpty(); }));
        EXPECT_EQ(answers, QList<int>{c.expected}) << c.buttons.join(',').toStdString();
    }
}

TEST(AlertsFake, AnswersFromTheEventLoopWithScriptedChoicesThenTheDefault)
{
    AlertsFake alerts;
    QList<int> answers;
    alerts.scriptAnswers({2});
    alerts.show(nullptr, Alert{QStringLiteral("一"), QStringLiteral("甲"), {}, 0, -1, Alert::Icon::None},
                [&](int b) { answers << b; });
    alerts.inform(nullptr, QStringLiteral("二"), {}, [&](int b) { answers << b; });
    // Like a user, the fake answers after show() returned.
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(alerts.pendingCount(), 2);
    ASSERT_TRUE(testenv::waitUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers, (QList<int>{2, 0}));
    EXPECT_EQ(alerts.messages(), (QStringList{QStringLiteral("一"), QStringLiteral("二")}));
    EXPECT_EQ(alerts.texts(), (QStringList{QStringLiteral("一|甲"), QStringLiteral("二|")}));
    EXPECT_EQ(alerts.shown().at(0).answeredWith, 2);
}

TEST(AlertsFake, HeldAlertsWaitForTheTestAndSkipAParentThatWentAway)
{
    AlertsFake alerts;
    alerts.setHold(true);
    int answered = 0;
    auto parent = std::make_unique<QWidget>();
    alerts.inform(parent.get(), QStringLiteral("一"), {}, [&](int) { ++answered; });
    alerts.inform(nullptr, QStringLiteral("二"), {}, [&](int) { ++answered; });
    // Anything queued behind the alerts has run: a fake that answered by itself would have.
    bool queued = false;
    QMetaObject::invokeMethod(qApp, [&] { queued = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(testenv::waitUntil([&] { return queued; }));
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(alerts.pendingCount(), 2);

    parent.reset();
    EXPECT_TRUE(alerts.answerNext());
    EXPECT_EQ(answered, 0);  // its window is gone, so is the alert
    EXPECT_TRUE(alerts.answerNext(1));
    EXPECT_EQ(answered, 1);
    EXPECT_FALSE(alerts.answerNext());
}

TEST(Alerts, CurrentIsTheFakeAfterSetCurrentAndRealAfterReset)
{
    auto fake = std::make_shared<AlertsFake>();
    Alerts::setCurrent(fake);
    EXPECT_EQ(&Alerts::current(), fake.get());
    Alerts::setCurrent(nullptr);
    EXPECT_NE(dynamic_cast<MessageBoxAlerts*>(&Alerts::current()), nullptr);
}

TEST(SheetDialog, OpensWindowModalOverTheViewsWindowWithoutWaiting)
{
    Window window;
    auto* view = new QWidget(&window.widget);
    auto* sheet = new CountingSheet;
    sheet->presentAsSheetOver(view);
    EXPECT_TRUE(sheet->isPresented());
    EXPECT_EQ(sheet->parentWidget(), &window.widget);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->isWindow());
    // A dialog to the window manager: Qt's macOS-only sheet type would be a drawer here.
    EXPECT_EQ(sheet->windowType(), Qt::Dialog);
    sheet->dismiss();
    EXPECT_FALSE(sheet->isPresented());
    EXPECT_EQ(sheet->cancelled, 0);  // dismiss is not a cancel
    // The same sheet can be shown again.
    sheet->presentAsSheetOver(view);
    EXPECT_TRUE(sheet->isPresented());
}

TEST(SheetDialog, EscapeTheCloseButtonAndCancelRunTheCancelPathOnce)
{
    enum class How { Escape, Close, CancelButton };
    for (How how : {How::Escape, How::Close, How::CancelButton}) {
        Window window;
        auto* sheet = new CountingSheet;
        sheet->presentAsSheetOver(&window.widget);
        switch (how) {
        case How::Escape: pressKey(sheet->field, Qt::Key_Escape); break;
        case How::Close: sheet->close(); break;
        case How::CancelButton: sheet->cancel->click(); break;
        }
        EXPECT_EQ(sheet->cancelled, 1) << int(how);
        EXPECT_FALSE(sheet->isPresented()) << int(how);
        EXPECT_EQ(sheet->confirmed, 0);
    }
}

TEST(SheetDialog, ASheetThatCannotBeCancelledStaysOpen)
{
    Window window;
    auto* sheet = new CountingSheet(false);
    sheet->presentAsSheetOver(&window.widget);
    pressKey(sheet->field, Qt::Key_Escape);
    EXPECT_TRUE(sheet->isPresented());
    EXPECT_FALSE(sheet->close());
    EXPECT_TRUE(sheet->isPresented());
}

TEST(SheetDialog, ReturnPressesTheDefaultButtonOnceWhereverTheFocusIs)
{
    Window window;
    auto* sheet = new CountingSheet;
    sheet->presentAsSheetOver(&window.widget);
    EXPECT_FALSE(sheet->cancel->autoDefault());
    EXPECT_FALSE(sheet->confirm->autoDefault());
    EXPECT_TRUE(sheet->confirm->isDefault());
    pressKey(sheet->field, Qt::Key_Return);
    EXPECT_EQ(sheet->confirmed, 1);
    // A focused cancel button does not take Return for itself.
    pressKey(sheet->cancel, Qt::Key_Return);
    EXPECT_EQ(sheet->confirmed, 2);
    EXPECT_EQ(sheet->cancelled, 0);
}

TEST(BusyIndicator, TurnsOnlyWhileAnimatingAndVisible)
{
    Window window;
    // A running indicator beside it is the clock: once it has turned a few steps, the other
    // one would have turned too.
    auto* clock = new BusyIndicator(&window.widget);
    clock->show();
    clock->startAnimation();
    const auto waitSteps = [clock] {
        const int from = clock->phase();
        return testenv::waitUntil([clock, from] { return (clock->phase() - from + 12) % 12 >= 3; });
    };

    auto* indicator = new BusyIndicator(&window.widget);
    indicator->show();
    const int still = indicator->phase();
    ASSERT_TRUE(waitSteps());
    EXPECT_EQ(indicator->phase(), still);  // not started

    indicator->startAnimation();
    EXPECT_TRUE(indicator->isAnimating());
    int seen = indicator->phase();
    ASSERT_TRUE(testenv::waitUntil([&] { return indicator->phase() != seen; }));

    // Hidden it keeps its state and stands still; shown again it turns again.
    indicator->hide();
    seen = indicator->phase();
    ASSERT_TRUE(waitSteps());
    EXPECT_EQ(indicator->phase(), seen);
    EXPECT_TRUE(indicator->isAnimating());
    indicator->show();
    ASSERT_TRUE(testenv::waitUntil([&] { return indicator->phase() != seen; }));

    indicator->stopAnimation();
    EXPECT_FALSE(indicator->isAnimating());
}
