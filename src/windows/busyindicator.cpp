#include "windows/busyindicator.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMs = 80;
}  // namespace

BusyIndicator::BusyIndicator(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kStepMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 1) % kSpokes;
        update();
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BusyIndicator::startAnimation()
{
    m_animating = true;
    updateTimer();
    update();
}

void BusyIndicator::stopAnimation()
{
    m_animating = false;
    updateTimer();
    update();
}

QSize BusyIndicator::sizeHint() const
{
    return {32, 32};
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    if (!m_animating)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = side / 2.0 - 1;
    const qreal inner = outer * 0.5;
    QColor color = palette().color(QPalette::WindowText);
    QPen pen(color, std::max<qreal>(2.0, side / 12.0), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The bright spoke is the current phase; the ones behind it fade out.
        const int age = (m_phase - i + kSpokes) % kSpokes;
        color.setAlphaF(1.0 - 0.75 * age / (kSpokes - 1));
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.restore();
    }
}

void BusyIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void BusyIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

void BusyIndicator::updateTimer()
{
    if (m_animating && isVisible())
        m_timer->start();
    else
        m_timer->stop();
}
