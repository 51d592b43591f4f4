#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>

class QLabel;
class QPropertyAnimation;
class QGraphicsOpacityEffect;
class QTimer;

// A progress overlay ("HUD") over a window's content: a dimmed cover over the whole view
// that swallows clicks (and, while it is up, every key meant for its window), with a rounded box in the middle holding a busy bar and a label.
// It follows the view's size and deletes itself once hidden, so callers keep it in a
// QPointer and never delete it.
//
//     QPointer<ProgressOverlay> hud = ProgressOverlay::showAddedTo(window, tr("添加中..."));
//     ... when the work ends:
//     if (hud) { hud->setLabelText(tr("完成中")); hud->hideAfter(std::chrono::milliseconds(200)); }
//
// Any window or preferences pane can use it this way; several overlays on one view stack.
class ProgressOverlay : public QWidget {
    Q_OBJECT
public:
    // Makes an overlay covering the view and shows it, fading in when animated.
    static ProgressOverlay* showAddedTo(QWidget* view, const QString& label, bool animated = true);

    QString labelText() const;
    void setLabelText(const QString& text);

    // Hides (fading out when animated) after the delay, then deletes itself. Calling it again
    // replaces the earlier delay.
    void hideAfter(std::chrono::milliseconds delay, bool animated = true);
    // True from hideAfter until the overlay is gone.
    bool isHiding() const { return m_hiding; }

signals:
    // Emitted once, just before the overlay deletes itself.
    void hidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    ProgressOverlay(QWidget* view, const QString& label);
    void fade(double to, bool finishWhenDone);
    void finish();
    // A widget of the window this overlay covers.
    bool isInCoveredWindow(QObject* object) const;

    QLabel* m_label = nullptr;
    QGraphicsOpacityEffect* m_opacity = nullptr;
    QPointer<QPropertyAnimation> m_animation;
    QTimer* m_hideTimer = nullptr;
    bool m_animatedHide = true;
    bool m_hiding = false;
    bool m_finished = false;
};
