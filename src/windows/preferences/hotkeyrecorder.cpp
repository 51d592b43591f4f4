#include "windows/preferences/hotkeyrecorder.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

bool isFunctionKey(int key)
{
    return key >= Qt::Key_F1 && key <= Qt::Key_F20;
}

// Other programs bind these (copy, paste, undo, select all, word moves...): grabbed for the
// whole desktop they would stop working everywhere.
bool isStandardShortcut(const Shortcut& shortcut)
{
    const QKeySequence sequence = KeyTranslation::keySequenceForShortcut(shortcut);
    if (sequence.isEmpty())
        return false;
    for (int key = QKeySequence::HelpContents; key <= QKeySequence::Backspace; ++key)
        for (const QKeySequence& binding : QKeySequence::keyBindings(QKeySequence::StandardKey(key)))
            if (binding == sequence)
                return true;
    return false;
}

// Terminals copy and paste with Ctrl+Shift+C and Ctrl+Shift+V (their Ctrl+C interrupts), and
// editors redo with Ctrl+Shift+Z; the platform's own bindings do not always list them.
bool isTerminalOrRedoShortcut(std::optional<int> key, qint64 modifiers)
{
    return key && modifiers == (Shortcut::ControlFlag | Shortcut::ShiftFlag)
           && (*key == Qt::Key_C || *key == Qt::Key_V || *key == Qt::Key_Z);
}

QString refusalText(HotkeyRecorder::Refusal refusal, const QString& combination)
{
    switch (refusal) {
    case HotkeyRecorder::Refusal::None: break;
    case HotkeyRecorder::Refusal::NeedsModifier:
        return QStringLiteral("%1 不能用作快捷键: 请加上 Ctrl 或 Super 键(功能键可单独使用, Alt 只能配空格或 Esc)")
            .arg(combination);
    case HotkeyRecorder::Refusal::PasteKeystroke:
        return QStringLiteral("%1 不能用作快捷键: 这是粘贴所用的组合键").arg(combination);
    case HotkeyRecorder::Refusal::StandardShortcut:
        return QStringLiteral("%1 不能用作快捷键: 其他程序用它编辑文字(如复制、撤销)").arg(combination);
    case HotkeyRecorder::Refusal::TerminalShortcut:
        return QStringLiteral("%1 不能用作快捷键: 终端用它复制或粘贴, 编辑器用它重做").arg(combination);
    }
    return {};
}

}  // namespace

HotkeyRecorder::HotkeyRecorder(QWidget* parent)
    : QWidget(parent)
{
    // Tab reaches the recorder itself; its buttons take no focus of their own.
    setFocusPolicy(Qt::StrongFocus);
    m_field = new QPushButton(this);
    m_field->setObjectName(QStringLiteral("shortcutField"));
    m_field->setFocusPolicy(Qt::NoFocus);
    m_field->setMinimumWidth(170);
    m_clear = new QToolButton(this);
    m_clear->setObjectName(QStringLiteral("shortcutClear"));
    m_clear->setText(QStringLiteral("✕"));
    m_clear->setToolTip(QStringLiteral("清除快捷键"));
    m_clear->setFocusPolicy(Qt::NoFocus);
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("shortcutHint"));
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->setWordWrap(true);
    m_hint->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_hint->hide();
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addWidget(m_field, 1);
    row->addWidget(m_clear);
    auto* layout = new QVBoxLayout(this);
    // Room for the focus frame around the field.
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    layout->addLayout(row);
    layout->addWidget(m_hint);
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

HotkeyRecorder::Refusal HotkeyRecorder::refusalFor(const Shortcut& shortcut)
{
    const std::optional<int> key = KeyTranslation::qtKeyForKeyCode(shortcut.keyCode);
    if (key && isFunctionKey(*key))
        return Refusal::None;
    const qint64 modifiers = shortcut.modifierFlags & Shortcut::ModifierMask;
    const bool withCommand = modifiers & (Shortcut::CommandFlag | Shortcut::ControlFlag);
    const bool altWithSpaceOrEscape = (modifiers & Shortcut::OptionFlag) && key
                                      && (*key == Qt::Key_Space || *key == Qt::Key_Escape);
    if (!withCommand && !altWithSpaceOrEscape)
        return Refusal::NeedsModifier;
    const Shortcut paste = Shortcut::pasteKeystroke();
    if (shortcut.keyCode == paste.keyCode && modifiers == paste.modifierFlags)
        return Refusal::PasteKeystroke;
    if (isTerminalOrRedoShortcut(key, modifiers))
        return Refusal::TerminalShortcut;
    if (isStandardShortcut(Shortcut{shortcut.keyCode, modifiers}))
        return Refusal::StandardShortcut;
    return Refusal::None;
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

QString HotkeyRecorder::hintText() const
{
    return m_hint->text();
}

void HotkeyRecorder::setHint(const QString& text)
{
    m_hint->setText(text);
    m_hint->setVisible(!text.isEmpty());
}

void HotkeyRecorder::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    setHint({});
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
    setHint({});
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
        const bool plain = KeyTranslation::modifierFlagsForQtModifiers(event->modifiers()) == 0;
        switch (plain ? event->key() : 0) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            startRecording();
            return;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            event->accept();
            if (m_value)
                changeValue(std::nullopt);
            return;
        default:
            // Escape and the rest go on to the window.
            QWidget::keyPressEvent(event);
            return;
        }
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
    // A modifier alone: the combination is still being pressed.
    if (!shortcut)
        return;
    if (const Refusal refusal = refusalFor(*shortcut); refusal != Refusal::None) {
        setHint(refusalText(refusal, textForShortcut(*shortcut)));
        return;
    }
    stopRecording();
    changeValue(*shortcut);
}

void HotkeyRecorder::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void HotkeyRecorder::focusOutEvent(QFocusEvent* event)
{
    stopRecording();
    QWidget::focusOutEvent(event);
    update();
}

void HotkeyRecorder::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!hasFocus())
        return;
    // The buttons take no focus, so the recorder shows its own around the field.
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = m_field->geometry().adjusted(-2, -2, 2, 2);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
