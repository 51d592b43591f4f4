#include "windows/progressoverlay.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kFadeMilliseconds = 150;
}

ProgressOverlay* ProgressOverlay::showAddedTo(QWidget* view, const QString& label, bool animated)
{
    auto* overlay = new ProgressOverlay(view, label);
    overlay->show();
    overlay->raise();
    overlay->setFocus();
    if (animated)
        overlay->fade(1.0, false);
    else
        overlay->m_opacity->setOpacity(1.0);
    return overlay;
}

ProgressOverlay::ProgressOverlay(QWidget* view, const QString& label) : QWidget(view)
{
    setAttribute(Qt::WA_NoSystemBackground);
    // Clicks on the cover must not reach the buttons underneath while work runs.
    setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(view->rect());
    view->installEventFilter(this);
    // The cover stops the mouse; the keyboard is stopped here, for every widget of the window.
    qApp->installEventFilter(this);

    auto* box = new QFrame(this);
    box->setObjectName(QStringLiteral("progressOverlayBox"));
    box->setStyleSheet(QStringLiteral("#progressOverlayBox { background: rgba(30, 30, 30, 220); border-radius: 10px; }"
                                      "QLabel { color: white; }"));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(24, 18, 24, 18);
    boxLayout->setSpacing(12);
    auto* busy = new QProgressBar(box);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(120, 8);
    boxLayout->addWidget(busy, 0, Qt::AlignHCenter);
    m_label = new QLabel(label, box);
    m_label->setAlignment(Qt::AlignCenter);
    boxLayout->addWidget(m_label, 0, Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box, 0, Qt::AlignCenter);

    m_opacity = new QGraphicsOpacityEffect(this);
    m_opacity->setOpacity(0.0);
    setGraphicsEffect(m_opacity);

    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        if (m_animatedHide)
            fade(0.0, true);
        else
            finish();
    });
}

QString ProgressOverlay::labelText() const
{
    return m_label->text();
}

void ProgressOverlay::setLabelText(const QString& text)
{
    m_label->setText(text);
}

void ProgressOverlay::hideAfter(std::chrono::milliseconds delay, bool animated)
{
    m_hiding = true;
    m_animatedHide = animated;
    m_hideTimer->start(delay);
}

void ProgressOverlay::fade(double to, bool finishWhenDone)
{
    if (m_animation)
        m_animation->stop();
    m_animation = new QPropertyAnimation(m_opacity, "opacity", this);
    m_animation->setDuration(kFadeMilliseconds);
    m_animation->setEndValue(to);
    if (finishWhenDone)
        connect(m_animation, &QPropertyAnimation::finished, this, &ProgressOverlay::finish);
    m_animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ProgressOverlay::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    hide();
    emit hidden();
    deleteLater();
}

bool ProgressOverlay::isInCoveredWindow(QObject* object) const
{
    if (m_finished || !object->isWidgetType())
        return false;
    return static_cast<QWidget*>(object)->window() == window();
}

bool ProgressOverlay::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Resize:
        if (watched == parentWidget())
            setGeometry(parentWidget()->rect());
        break;
    case QEvent::ShortcutOverride:
        // Accepted, so no shortcut of the window fires; the key press is then swallowed too.
        if (isInCoveredWindow(watched)) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // While the work runs nothing under the cover takes a key: no second click by Space,
        // no pane switch by the arrows, no focus move by Tab.
        if (isInCoveredWindow(watched))
            return true;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ProgressOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 60));
}
