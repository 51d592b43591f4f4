#include "windows/preferences/hotkeyrecorder.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace {

bool isFunctionKey(int key)
{
    return key >= Qt::Key_F1 && key <= Qt::Key_F20;
}

}  // namespace

HotkeyRecorder::HotkeyRecorder(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::ClickFocus);
    m_field = new QPushButton(this);
    m_field->setObjectName(QStringLiteral("shortcutField"));
    m_field->setFocusPolicy(Qt::NoFocus);
    m_field->setMinimumWidth(170);
    m_clear = new QToolButton(this);
    m_clear->setObjectName(QStringLiteral("shortcutClear"));
    m_clear->setText(QStringLiteral("✕"));
    m_clear->setToolTip(QStringLiteral("清除快捷键"));
    m_clear->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_clear);
    connect(m_field, &QPushButton::clicked, this, [this] {
        if (m_recording)
            stopRecording();
        else
            startRecording();
    });
    connect(m_clear, &QToolButton::clicked, this, [this] {
        stopRecording();
        changeValue(std::nullopt);
    });
    refresh();
}

QString HotkeyRecorder::textForShortcut(const Shortcut& shortcut)
{
    QString text = KeyTranslation::keySequenceForShortcut(shortcut).toString(QKeySequence::PortableText);
    // The key in Command's place is Super on Linux; Qt calls it Meta.
    text.replace(QStringLiteral("Meta"), QStringLiteral("Super"));
    return text;
}

void HotkeyRecorder::setShortcutValue(const std::optional<Shortcut>& value)
{
    m_value = value && !value->isOff() ? value : std::nullopt;
    refresh();
}

QString HotkeyRecorder::displayText() const
{
    return m_field->text();
}

void HotkeyRecorder::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    setFocus(Qt::MouseFocusReason);
    refresh();
    if (m_recordingChange)
        m_recordingChange(true);
}

void HotkeyRecorder::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    refresh();
    if (m_recordingChange)
        m_recordingChange(false);
}

void HotkeyRecorder::changeValue(const std::optional<Shortcut>& value)
{
    setShortcutValue(value);
    if (m_valueChange)
        m_valueChange(this);
}

void HotkeyRecorder::refresh()
{
    if (m_recording)
        m_field->setText(QStringLiteral("请按下快捷键…"));
    else if (m_value)
        m_field->setText(textForShortcut(*m_value));
    else
        m_field->setText(QStringLiteral("点击录制快捷键"));
    m_clear->setEnabled(m_value.has_value() && !m_recording);
}

bool HotkeyRecorder::event(QEvent* event)
{
    // While recording, Tab and Shift+Tab are keys to record, not focus moves.
    if (m_recording && event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QWidget::event(event);
}

void HotkeyRecorder::keyPressEvent(QKeyEvent* event)
{
    if (!m_recording) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const qint64 flags = KeyTranslation::modifierFlagsForQtModifiers(modifiers);
    if (flags == 0 && key == Qt::Key_Escape) {
        stopRecording();
        return;
    }
    if (flags == 0 && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
        stopRecording();
        changeValue(std::nullopt);
        return;
    }
    const auto shortcut = KeyTranslation::shortcutForKeyEvent(key, modifiers);
    // A modifier alone, or a plain key the user types every day, is no hotkey.
    if (!shortcut || (flags == 0 && !isFunctionKey(key)))
        return;
    stopRecording();
    changeValue(*shortcut);
}

void HotkeyRecorder::focusOutEvent(QFocusEvent* event)
{
    stopRecording();
    QWidget::focusOutEvent(event);
}
