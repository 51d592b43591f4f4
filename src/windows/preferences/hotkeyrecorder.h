#pragma once

#include "platform/keytranslation.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

// Records the global hotkey: a click, or Space or Return while it has the keyboard focus
// (Tab reaches it), starts recording; the next combination that cannot break typing becomes
// the hotkey; Escape or leaving the field stops recording with nothing changed; Backspace or
// Delete, or the clear button, clears it (the hotkey off). It shows the hotkey as
// "Shift+Super+V".
//
// A global hotkey is taken from every other program, so only these are accepted: a function
// key, with any modifiers; otherwise a combination with Super or Control, or Alt with Space or
// Escape. Never a key with Shift alone or none, never the app's own paste keystroke, never a
// standard editing shortcut of the platform (copy, undo, select all...), never the terminal's
// copy and paste (Ctrl+Shift+C, Ctrl+Shift+V) or the editors' redo (Ctrl+Shift+Z). A refused
// combination is named under the field and recording goes on.
class HotkeyRecorder : public QWidget {
    Q_OBJECT
public:
    using ValueChange = std::function<void(HotkeyRecorder*)>;
    using RecordingChange = std::function<void(bool recording)>;

    // Why a combination cannot be the hotkey.
    enum class Refusal { None, NeedsModifier, PasteKeystroke, StandardShortcut, TerminalShortcut };

    explicit HotkeyRecorder(QWidget* parent = nullptr);

    static Refusal refusalFor(const Shortcut& shortcut);

    std::optional<Shortcut> shortcutValue() const { return m_value; }
    // Shows the hotkey; the change handler is not called.
    void setShortcutValue(const std::optional<Shortcut>& value);
    // Called after the user recorded or cleared a hotkey.
    void setShortcutValueChange(ValueChange handler) { m_valueChange = std::move(handler); }
    // Called when recording starts (true) and ends (false).
    void setRecordingChange(RecordingChange handler) { m_recordingChange = std::move(handler); }

    bool isRecording() const { return m_recording; }
    void startRecording();
    void stopRecording();

    // What the field shows now.
    QString displayText() const;
    // Why the last combination pressed was refused; empty when none was.
    QString hintText() const;
    QPushButton* field() const { return m_field; }
    QToolButton* clearButton() const { return m_clear; }

    // "Shift+Super+V"; empty for a hotkey the key table does not know.
    static QString textForShortcut(const Shortcut& shortcut);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void changeValue(const std::optional<Shortcut>& value);
    void refresh();
    void setHint(const QString& text);

    QPushButton* m_field = nullptr;
    QToolButton* m_clear = nullptr;
    QLabel* m_hint = nullptr;
    std::optional<Shortcut> m_value;
    bool m_recording = false;
    ValueChange m_valueChange;
    RecordingChange m_recordingChange;
};
