#pragma once

#include "platform/keytranslation.h"

#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;
class QToolButton;

// Records the global hotkey: a click starts recording, the next key pressed with at least
// one modifier (a function key alone too) becomes the hotkey; Escape or leaving the field
// stops recording with nothing changed; Backspace or Delete, or the clear button, clears it
// (the hotkey off). It shows the hotkey as "Shift+Super+V".
class HotkeyRecorder : public QWidget {
    Q_OBJECT
public:
    using ValueChange = std::function<void(HotkeyRecorder*)>;
    using RecordingChange = std::function<void(bool recording)>;

    explicit HotkeyRecorder(QWidget* parent = nullptr);

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
    QPushButton* field() const { return m_field; }
    QToolButton* clearButton() const { return m_clear; }

    // "Shift+Super+V"; empty for a hotkey the key table does not know.
    static QString textForShortcut(const Shortcut& shortcut);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void changeValue(const std::optional<Shortcut>& value);
    void refresh();

    QPushButton* m_field = nullptr;
    QToolButton* m_clear = nullptr;
    std::optional<Shortcut> m_value;
    bool m_recording = false;
    ValueChange m_valueChange;
    RecordingChange m_recordingChange;
};
