#pragma once

#include <QDialog>

class AdvancePrivacyManager;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The privacy script editor: a window-modal dialog over the privacy pane, opened with
// open() so nothing waits for it. The user edits, tests, reverts to the default and saves
// the script; the dialog ends with 1 after a saved Done and 0 after Cancel (finished()).
class ScriptEditWindowController : public QDialog {
    Q_OBJECT
public:
    // Works on the given manager, the shared one when none is given.
    explicit ScriptEditWindowController(QWidget* parent = nullptr, AdvancePrivacyManager* manager = nullptr);

    QPlainTextEdit* textEditView() const { return m_textEditView; }
    QLabel* errorLabelView() const { return m_errorLabelView; }
    QLabel* luaLabel() const { return m_luaLabel; }
    QPushButton* testButton() const { return m_testButton; }
    QPushButton* doneButton() const { return m_doneButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    QPushButton* revertButton() const { return m_revertButton; }

    // The label's text for the number Lua reports: "Lua 5.2" for 502.
    static QString luaVersionText(const QString& versionNumber);

public slots:
    // Tests the text; the error label shows the message, or nothing when it passes.
    void testClicked();
    // Tests the text: an error opens the "错啦!" alert (Alerts) over the editor, which stays
    // as it is; a pass stores
    // the text (and reloads the script) and ends the dialog with 1.
    void doneClicked();
    // Ends the dialog with 0; nothing is stored.
    void cancelClicked();
    // Puts the default script into the text; nothing is stored until Done.
    void revertDefault();

private:
    void windowDidLoad();
    void showError(const QString& error);

    AdvancePrivacyManager& m_manager;
    QPlainTextEdit* m_textEditView = nullptr;
    QLabel* m_errorLabelView = nullptr;
    QLabel* m_luaLabel = nullptr;
    QPushButton* m_testButton = nullptr;
    QPushButton* m_doneButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_revertButton = nullptr;
};
