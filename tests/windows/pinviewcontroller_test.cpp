#include "support/testenv.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/encryption/encloadingviewcontroller.h"
#include "windows/encryption/encryptaccountpwdviewcontroller.h"
#include "windows/encryption/pinviewcontroller.h"
#include "windows/busyindicator.h"

#include "store/configuremanager.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

void pressKey(QWidget* widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// Types a text into the field and presses Return in it, as a user does.
void enter(QLineEdit* field, const QString& text)
{
    field->setText(text);
    pressKey(field, Qt::Key_Return);
}

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Alerts::setCurrent(alerts);
        window.resize(480, 260);
        window.show();
    }
    void TearDown() override { Alerts::setCurrent(nullptr); }

    // A PIN sheet over the window that records its result and its cancels.
    PINViewController* pinSheet(qint64 step, qint64 finalStep)
    {
        auto* sheet = new PINViewController(step);
        sheet->setFinalStep(finalStep);
        sheet->setResultHandler([this](const PINViewController::StepPins& pins) { results << pins; });
        sheet->setCancelHandler([this] { ++cancels; });
        sheet->presentAsSheetOver(&window);
        return sheet;
    }

    std::shared_ptr<AlertsFake> alerts = std::make_shared<AlertsFake>();
    QWidget window;
    QList<PINViewController::StepPins> results;
    int cancels = 0;
};

using PINViewControllerTest = SheetTest;
using EncryptAccountPwdTest = SheetTest;
using ENCLoadingTest = SheetTest;

}  // namespace

TEST_F(PINViewControllerTest, EachUseCollectsItsStepsAndShowsEachPrompt)
{
    struct Case {
        qint64 start, finalStep;
        QStringList typed;
        PINViewController::StepPins expected;
    };
    const QList<Case> cases = {
        {0, 0, {QStringLiteral("1234")}, {{0, QStringLiteral("1234")}}},
        {1, 2, {QStringLiteral("567890"), QStringLiteral("567890")}, {{1, QStringLiteral("567890")}, {2, QStringLiteral("567890")}}},
        {0, 2, {QStringLiteral("1234"), QStringLiteral("567890"), QStringLiteral("567890")},
         {{0, QStringLiteral("1234")}, {1, QStringLiteral("567890")}, {2, QStringLiteral("567890")}}},
    };
    for (const Case& c : cases) {
        results.clear();
        PINViewController* sheet = pinSheet(c.start, c.finalStep);
        for (int i = 0; i < c.typed.size(); ++i) {
            const qint64 step = c.start + i;
            EXPECT_EQ(sheet->step(), step);
            ASSERT_TRUE(testenv::waitUntil([&] { return sheet->titleLabel()->text() == PINViewController::titleOfStep(step); }))
                << sheet->titleLabel()->text().toStdString();
            EXPECT_TRUE(results.isEmpty());
            enter(sheet->pinField(), c.typed[i]);
            // The field is emptied for the next entry.
            EXPECT_EQ(sheet->pinField()->text(), QString());
        }
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results.first(), c.expected);
        // The owner closes the sheet, not the sheet itself.
        EXPECT_TRUE(sheet->isPresented());
        EXPECT_EQ(alerts->count(), 0);
        delete sheet;
    }
    EXPECT_EQ(PINViewController::titleOfStep(0), QStringLiteral("输入当前PIN:"));
    EXPECT_EQ(PINViewController::titleOfStep(1), QStringLiteral("输入新的PIN:"));
    EXPECT_EQ(PINViewController::titleOfStep(2), QStringLiteral("再次输入新PIN:"));
}

TEST_F(PINViewControllerTest, ChecksAgainstThePreviousEntryOfTheSameSheet)
{
    PINViewController* sheet = pinSheet(0, 2);
    enter(sheet->pinField(), QStringLiteral("123456"));
    // A new PIN equal to the current one: the message, same step, text kept.
    enter(sheet->pinField(), QStringLiteral("123456"));
    EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("不能和原来的相同")});
    EXPECT_EQ(alerts->shown().first().parent, sheet);
    EXPECT_EQ(sheet->step(), 1);
    EXPECT_EQ(sheet->pinField()->text(), QStringLiteral("123456"));
    enter(sheet->pinField(), QStringLiteral(" 567890"));
    // A repetition that differs (spaces count): the message, same step.
    enter(sheet->pinField(), QStringLiteral("567890"));
    EXPECT_EQ(alerts->messages().last(), QStringLiteral("两次输入的不一样"));
    EXPECT_EQ(sheet->step(), 2);
    EXPECT_EQ(sheet->pinField()->text(), QStringLiteral("567890"));
    EXPECT_TRUE(results.isEmpty());
    enter(sheet->pinField(), QStringLiteral(" 567890"));
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results.first().value(1), QStringLiteral(" 567890"));
    EXPECT_EQ(alerts->count(), 2);
}

TEST_F(PINViewControllerTest, ANewKeySheetNeverComparesItsFirstEntryAndEmptyEntriesAreIgnored)
{
    PINViewController* sheet = pinSheet(1, 2);
    enter(sheet->pinField(), QString());
    EXPECT_EQ(sheet->step(), 1);
    enter(sheet->pinField(), QStringLiteral("abcdef"));
    EXPECT_EQ(sheet->step(), 2);
    enter(sheet->pinField(), QString());
    EXPECT_EQ(sheet->step(), 2);
    EXPECT_EQ(alerts->count(), 0);
    EXPECT_TRUE(results.isEmpty());
}

// A new PIN has at least six characters (not bytes, not UTF-16 units); the current PIN of an
// older key may be shorter and is taken as it is.
TEST_F(PINViewControllerTest, ANewPinNeedsSixCharacters)
{
    const QString tooShort = QStringLiteral("新的PIN至少需要6个字符");
    struct Case {
        const char* name;
        QString typed;
        bool accepted;
    };
    const QList<Case> cases = {
        {"five digits", QStringLiteral("12345"), false},
        {"six digits", QStringLiteral("123456"), true},
        {"five letters and a space", QStringLiteral("abcde "), true},
        {"five characters outside the BMP", QStringLiteral("😀😀😀😀😀"), false},
        {"six Chinese characters", QStringLiteral("一二三四五六"), true},
    };
    for (const Case& c : cases) {
        alerts->clear();
        results.clear();
        PINViewController* sheet = pinSheet(1, 2);
        enter(sheet->pinField(), c.typed);
        if (!c.accepted) {
            EXPECT_EQ(alerts->messages(), QStringList{tooShort}) << c.name;
            EXPECT_EQ(sheet->step(), 1) << c.name;
            EXPECT_EQ(sheet->pinField()->text(), c.typed) << c.name;
        } else {
            EXPECT_EQ(alerts->count(), 0) << c.name;
            EXPECT_EQ(sheet->step(), 2) << c.name;
            enter(sheet->pinField(), c.typed);
            EXPECT_EQ(results.size(), 1) << c.name;
        }
        delete sheet;
    }

    // Unlocking and the current PIN of a change take a short PIN; the new one does not.
    alerts->clear();
    results.clear();
    PINViewController* unlock = pinSheet(0, 0);
    enter(unlock->pinField(), QStringLiteral("2468"));
    EXPECT_EQ(results.size(), 1);
    delete unlock;
    PINViewController* change = pinSheet(0, 2);
    enter(change->pinField(), QStringLiteral("2468"));
    EXPECT_EQ(change->step(), 1);
    enter(change->pinField(), QStringLiteral("1357"));
    EXPECT_EQ(alerts->messages(), QStringList{tooShort});
    EXPECT_EQ(change->step(), 1);
    delete change;
}

TEST_F(PINViewControllerTest, InputAfterTheResultIsIgnored)
{
    PINViewController* sheet = pinSheet(0, 0);
    enter(sheet->pinField(), QStringLiteral("1234"));
    // A second Return with another text, then a click: each would otherwise count as a
    // further accepted step past the last one.
    enter(sheet->pinField(), QStringLiteral("567890"));
    sheet->pinField()->setText(QStringLiteral("9999"));
    sheet->nextButton()->click();
    EXPECT_EQ(results.size(), 1);
    EXPECT_EQ(alerts->count(), 0);
    EXPECT_TRUE(sheet->isFinished());
    // A late Escape only closes it; the flow is the owner's now.
    pressKey(sheet->pinField(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isPresented());
    EXPECT_EQ(cancels, 0);
}

TEST_F(PINViewControllerTest, CancelDismissesFirstThenCallsTheHandlerAndDropsTheEntries)
{
    enum class How { Button, Escape, Close };
    for (How how : {How::Button, How::Escape, How::Close}) {
        cancels = 0;
        PINViewController* sheet = pinSheet(0, 2);
        bool visibleInHandler = true;
        sheet->setCancelHandler([&] {
            ++cancels;
            visibleInHandler = sheet->isPresented();
        });
        enter(sheet->pinField(), QStringLiteral("1234"));
        switch (how) {
        case How::Button: sheet->cancelButton()->click(); break;
        case How::Escape: pressKey(sheet->pinField(), Qt::Key_Escape); break;
        case How::Close: sheet->close(); break;
        }
        EXPECT_EQ(cancels, 1) << int(how);
        EXPECT_FALSE(visibleInHandler);
        EXPECT_TRUE(results.isEmpty());
        delete sheet;
    }
}

TEST_F(PINViewControllerTest, MovingOnFadesTheContentOutAndBackIn)
{
    PINViewController* sheet = pinSheet(1, 2);
    QList<qreal> seen;
    QObject::connect(sheet->opacityEffect(), &QGraphicsOpacityEffect::opacityChanged, sheet,
                     [&](qreal o) { seen << o; });
    enter(sheet->pinField(), QStringLiteral("abcdef"));
    ASSERT_TRUE(testenv::waitUntil([&] { return !seen.isEmpty() && seen.last() == 1.0; }));
    EXPECT_LT(*std::min_element(seen.begin(), seen.end()), 0.2);
    EXPECT_EQ(sheet->titleLabel()->text(), QStringLiteral("再次输入新PIN:"));
}

TEST_F(EncryptAccountPwdTest, ThePromptNamesTheAccountOrKeepsItsOwnText)
{
    {
        EncryptAccountPwdViewController sheet;
        EXPECT_EQ(sheet.infoLabel()->text(), EncryptAccountPwdViewController::defaultInfoText());
    }
    ConfigureManager::sharedInstance().setLoginUserEmail(QStringLiteral("a+b@example.com"));
    EncryptAccountPwdViewController sheet;
    EXPECT_EQ(sheet.infoLabel()->text(), QStringLiteral("请输入当前帐号(a+b@example.com)的*登录*密码:"));
    ConfigureManager::sharedInstance().setLoginUserEmail(std::nullopt);
}

TEST_F(EncryptAccountPwdTest, ReturnHandsOverTheTypedPasswordAndCancelRunsAfterDismissal)
{
    auto* sheet = new EncryptAccountPwdViewController;
    QStringList passwords;
    int cancelled = 0;
    bool visibleInHandler = true;
    sheet->setResultHandler([&](const QString& pwd) { passwords << pwd; });
    sheet->setCancelHandler([&] {
        ++cancelled;
        visibleInHandler = sheet->isPresented();
    });
    sheet->presentAsSheetOver(&window);
    enter(sheet->pwdTextField(), QString());
    EXPECT_TRUE(passwords.isEmpty());
    enter(sheet->pwdTextField(), QStringLiteral(" p&ss "));
    EXPECT_EQ(passwords, QStringList{QStringLiteral(" p&ss ")});
    EXPECT_TRUE(sheet->isPresented());
    pressKey(sheet->pwdTextField(), Qt::Key_Escape);
    EXPECT_EQ(cancelled, 1);
    EXPECT_FALSE(visibleInHandler);
    EXPECT_EQ(passwords.size(), 1);
}

TEST_F(ENCLoadingTest, SpinsEachTimeItIsShownAndCannotBeCancelled)
{
    auto* sheet = new ENCLoadingViewController;
    EXPECT_TRUE(sheet->loadingView()->isAnimating());
    for (int round = 0; round < 2; ++round) {
        sheet->presentAsSheetOver(&window);
        const int from = sheet->loadingView()->phase();
        ASSERT_TRUE(testenv::waitUntil([&] { return sheet->loadingView()->phase() != from; })) << round;
        pressKey(sheet, Qt::Key_Escape);
        EXPECT_FALSE(sheet->close());
        EXPECT_TRUE(sheet->isPresented());
        sheet->dismiss();
        EXPECT_FALSE(sheet->isPresented());
        EXPECT_TRUE(sheet->loadingView()->isAnimating());
    }
}
