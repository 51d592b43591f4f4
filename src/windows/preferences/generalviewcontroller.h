#pragma once

#include "windows/preferences/preferencesservices.h"

#include <QWidget>

#include <optional>

class HotkeyRecorder;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class ShortcutController;

// Panel 0 of the preferences window: the global hotkey, launch at login, whether clips from
// other devices go onto the pasteboard, the pasteboard poll interval, and clearing the
// history. Every value is read when the pane is made and written as soon as a control
// changes.
class GeneralViewController : public QWidget {
    Q_OBJECT
public:
    explicit GeneralViewController(PreferencesServices services, QWidget* parent = nullptr);

    HotkeyRecorder* shortcutView() const { return m_shortcutView; }
    QCheckBox* startupButton() const { return m_startupButton; }
    QCheckBox* setAutoPB() const { return m_setAutoPB; }
    QSlider* speedSlider() const { return m_speedSlider; }
    QLabel* speedLabel() const { return m_speedLabel; }
    QPushButton* clearButton() const { return m_clearButton; }

    // The slider's stops: position -> interval in seconds (100 and any other position: 0.6).
    static double intervalForPosition(int position);
    // The stop of an interval that is exactly one of the six; nothing otherwise.
    static std::optional<int> positionForInterval(double interval);
    // The interval as its shortest decimal text ("0.6").
    static QString intervalText(double interval);

    // The actions.
    void sender();
    void autoSet();
    void sliderDidMove();
    void clearClicked();

private:
    void viewDidLoad();
    // The confirmation ended (1000: clear).
    void alertDidEndWithReturnCode(int code);

    PreferencesServices m_services;
    ShortcutController& m_shortcuts;
    HotkeyRecorder* m_shortcutView = nullptr;
    QCheckBox* m_startupButton = nullptr;
    QCheckBox* m_setAutoPB = nullptr;
    QSlider* m_speedSlider = nullptr;
    QLabel* m_speedLabel = nullptr;
    QPushButton* m_clearButton = nullptr;
};
