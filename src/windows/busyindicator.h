#pragma once

#include <QWidget>

class QTimer;

// A spinning busy indicator: a ring of spokes whose bright spoke goes round while it is
// animating. It turns only while it is visible, so an indicator that was started and then
// hidden with its sheet costs nothing and spins again when shown.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_animating; }
    // The spoke that is brightest now; advances while the indicator turns.
    int phase() const { return m_phase; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();

    QTimer* m_timer = nullptr;
    bool m_animating = false;
    int m_phase = 0;
};
