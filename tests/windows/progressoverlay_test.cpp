#include "support/testenv.h"
#include "windows/progressoverlay.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A window with one button under the overlay.
struct Window {
    Window()
    {
        widget.resize(300, 200);
        auto* layout = new QVBoxLayout(&widget);
        button = new QPushButton(QStringLiteral("x"), &widget);
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        widget.show();
    }
    QWidget widget;
    QPushButton* button = nullptr;
    int clicks = 0;
};

}  // namespace

TEST(ProgressOverlay, CoversTheViewAndFollowsItsSize)
{
    Window window;
    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(&window.widget, QStringLiteral("添加中..."));
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->labelText(), QStringLiteral("添加中..."));
    EXPECT_EQ(overlay->geometry(), window.widget.rect());
    window.widget.resize(500, 400);
    EXPECT_TRUE(testenv::waitUntil([&] { return overlay->geometry() == window.widget.rect(); }));
    overlay->hideAfter(0ms, false);
}

TEST(ProgressOverlay, TakesTheClicksMeantForTheWindowUnderneath)
{
    Window window;
    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(&window.widget, QStringLiteral("添加中..."), false);
    // Mouse events go to the topmost widget under the pointer: the overlay, not the button.
    const QPoint centre = window.button->mapTo(&window.widget, window.button->rect().center());
    QWidget* target = window.widget.childAt(centre);
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(target == overlay || overlay->isAncestorOf(target));
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_NoMousePropagation));
    overlay->hideAfter(0ms, false);
    ASSERT_TRUE(testenv::waitUntil([&] { return overlay.isNull(); }));
    EXPECT_EQ(window.widget.childAt(centre), window.button);
}

TEST(ProgressOverlay, ShowsTheNewLabelUntilTheDelayEndsThenGoesAway)
{
    Window window;
    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(&window.widget, QStringLiteral("添加中..."));
    bool hidden = false;
    QObject::connect(overlay, &ProgressOverlay::hidden, [&] { hidden = true; });
    overlay->setLabelText(QStringLiteral("完成中"));
    overlay->hideAfter(200ms);
    EXPECT_TRUE(overlay->isHiding());
    // Still there with its new label right after the call; gone, once, after the delay.
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->labelText(), QStringLiteral("完成中"));
    ASSERT_TRUE(testenv::waitUntil([&] { return overlay.isNull(); }));
    EXPECT_TRUE(hidden);
}

TEST(ProgressOverlay, GoesAwayWithItsView)
{
    auto* view = new QWidget;
    view->show();
    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(view, QStringLiteral("添加中..."));
    overlay->hideAfter(10s);
    delete view;
    EXPECT_TRUE(overlay.isNull());
}
