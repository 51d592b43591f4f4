#pragma once

#include "windows/scripteditwindowcontroller.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// Panel 2 of the preferences window: the user's privacy key words (editable in place, at
// most 25), the built-in ones (read-only), the three privacy switches and the privacy script
// editor, which is offered only while the advanced mode is on.
class PrivacyViewController : public QWidget {
    Q_OBJECT
public:
    explicit PrivacyViewController(QWidget* parent = nullptr);

    const QStringList& keyWords() const { return m_keyWords; }
    const QStringList& sysKeyWords() const { return m_sysKeyWords; }
    QTableWidget* tableView() const { return m_tableView; }
    QTableWidget* sysKeyWordsTableView() const { return m_sysKeyWordsTableView; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* removeButton() const { return m_removeButton; }
    QCheckBox* analySecertButton() const { return m_analySecertButton; }
    QCheckBox* fileAsSecertButton() const { return m_fileAsSecertButton; }
    QCheckBox* advancePrivacyButton() const { return m_advancePrivacyButton; }
    QPushButton* editScriptButton() const { return m_editScriptButton; }
    // Names the words the key-word test gave up on as too costly; hidden while there are none.
    QLabel* costlyWordsLabel() const { return m_costlyWordsLabel; }
    // The script editor sheet while it is open.
    ScriptEditWindowController* controllerWindow() const { return m_controllerWindow; }

    // The actions.
    void addButtonClicked();
    void removeButtonClicked();
    void analySecertClicked();
    void fileAsSecertClicked();
    void advancePrivacyClicked();
    void editScriptClicked();
    // A row of the custom table was edited to `text`; an empty text is refused.
    void setKeyWordAtRow(const QString& text, int row);
    // Reloads the custom words (and the words given up on).
    void changeData();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void viewDidLoad();
    static void fill(QTableWidget* table, const QStringList& words, bool editable);
    void showCostlyWords();

    QStringList m_keyWords;
    QStringList m_sysKeyWords;
    QTableWidget* m_tableView = nullptr;
    QTableWidget* m_sysKeyWordsTableView = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QCheckBox* m_analySecertButton = nullptr;
    QCheckBox* m_fileAsSecertButton = nullptr;
    QCheckBox* m_advancePrivacyButton = nullptr;
    QPushButton* m_editScriptButton = nullptr;
    QLabel* m_costlyWordsLabel = nullptr;
    QPointer<ScriptEditWindowController> m_controllerWindow;
    // The row "+" opened for a new word: stored once a word is typed into it, dropped when
    // its editor closes empty.
    int m_newWordRow = -1;
};
