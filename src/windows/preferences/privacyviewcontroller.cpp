#include "windows/preferences/privacyviewcontroller.h"

#include "store/configuremanager.h"
#include "store/utils.h"
#include "windows/alerts.h"
#include "windows/scripteditwindowcontroller.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kCustomTag = 1;
constexpr int kSystemTag = 2;
constexpr int kCancelCode = 1000;
constexpr int kTurnOnCode = 1001;

QTableWidget* makeTable(const QString& title, int tag, QWidget* parent)
{
    auto* table = new QTableWidget(0, 1, parent);
    table->setProperty("tag", tag);
    table->setHorizontalHeaderLabels({title});
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setVisible(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    return table;
}

void setChecked(QCheckBox* box, bool on)
{
    const QSignalBlocker block(box);
    box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

PrivacyViewController::PrivacyViewController(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("PrivacyViewController"));
    m_tableView = makeTable(QStringLiteral("自定义关键字"), kCustomTag, this);
    m_tableView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                 | QAbstractItemView::SelectedClicked);
    m_sysKeyWordsTableView = makeTable(QStringLiteral("内置关键字"), kSystemTag, this);
    m_sysKeyWordsTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_addButton = new QPushButton(QStringLiteral("+"), this);
    m_removeButton = new QPushButton(QStringLiteral("-"), this);
    for (QPushButton* button : {m_addButton, m_removeButton})
        button->setFixedWidth(32);
    m_analySecertButton = new QCheckBox(QStringLiteral("含关键字的文本标为机密"), this);
    m_fileAsSecertButton = new QCheckBox(QStringLiteral("文件标为机密"), this);
    m_advancePrivacyButton = new QCheckBox(QStringLiteral("高级隐私模式"), this);
    m_editScriptButton = new QPushButton(QStringLiteral("编辑脚本"), this);
    m_costlyWordsLabel = new QLabel(this);
    m_costlyWordsLabel->setWordWrap(true);
    m_costlyWordsLabel->setTextFormat(Qt::PlainText);

    auto* tables = new QGridLayout;
    tables->addWidget(m_tableView, 0, 0);
    tables->addWidget(m_sysKeyWordsTableView, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch(1);
    tables->addLayout(buttons, 1, 0);
    auto* advanced = new QHBoxLayout;
    advanced->addWidget(m_advancePrivacyButton);
    advanced->addWidget(m_editScriptButton);
    advanced->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addLayout(tables, 1);
    layout->addWidget(m_costlyWordsLabel);
    layout->addWidget(m_analySecertButton);
    layout->addWidget(m_fileAsSecertButton);
    layout->addLayout(advanced);

    viewDidLoad();

    connect(m_tableView, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { setKeyWordAtRow(item->text(), item->row()); });
    connect(m_tableView->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (m_newWordRow >= 0)
            changeData();
    });
    connect(m_addButton, &QPushButton::clicked, this, [this] { addButtonClicked(); });
    connect(m_removeButton, &QPushButton::clicked, this, [this] { removeButtonClicked(); });
    connect(m_analySecertButton, &QCheckBox::clicked, this, [this] { analySecertClicked(); });
    connect(m_fileAsSecertButton, &QCheckBox::clicked, this, [this] { fileAsSecertClicked(); });
    connect(m_advancePrivacyButton, &QCheckBox::clicked, this, [this] { advancePrivacyClicked(); });
    connect(m_editScriptButton, &QPushButton::clicked, this, [this] { editScriptClicked(); });
}

void PrivacyViewController::viewDidLoad()
{
    ConfigureManager& account = ConfigureManager::sharedInstance();
    m_keyWords = account.customKeyWords();
    m_sysKeyWords = account.sysKeyWords();
    setChecked(m_analySecertButton, Utils::isNeedAnalyseSecert());
    setChecked(m_fileAsSecertButton, Utils::isFileAsSecert());
    setChecked(m_advancePrivacyButton, Utils::isAdvancePrivacy());
    m_editScriptButton->setVisible(m_advancePrivacyButton->isChecked());
    fill(m_tableView, m_keyWords, true);
    fill(m_sysKeyWordsTableView, m_sysKeyWords, false);
    showCostlyWords();
}

void PrivacyViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Captures may have given up on a word since the pane was made.
    showCostlyWords();
}

void PrivacyViewController::showCostlyWords()
{
    const QStringList costly = ConfigureManager::sharedInstance().costlyKeyWords();
    QStringList quoted;
    for (const QString& word : costly)
        quoted << QStringLiteral("“%1”").arg(word);
    m_costlyWordsLabel->setText(
        costly.isEmpty() ? QString()
                         : QStringLiteral("以下关键字过于复杂，匹配时被放弃：%1。可能含有它们的文本一律记为机密，请改写这些关键字。")
                               .arg(quoted.join(QStringLiteral("、"))));
    m_costlyWordsLabel->setVisible(!costly.isEmpty());
}

void PrivacyViewController::fill(QTableWidget* table, const QStringList& words, bool editable)
{
    const QSignalBlocker block(table);
    table->setRowCount(int(words.size()));
    for (int row = 0; row < words.size(); ++row) {
        auto* item = new QTableWidgetItem(words.at(row));
        if (!editable)
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, 0, item);
    }
}

void PrivacyViewController::setKeyWordAtRow(const QString& text, int row)
{
    if (row == m_newWordRow) {
        ConfigureManager::sharedInstance().addNewWord(text);
        changeData();
        return;
    }
    ConfigureManager::sharedInstance().setKeyWord(text, row);
    changeData();
}

void PrivacyViewController::changeData()
{
    m_newWordRow = -1;
    m_keyWords = ConfigureManager::sharedInstance().customKeyWords();
    fill(m_tableView, m_keyWords, true);
    showCostlyWords();
}

void PrivacyViewController::addButtonClicked()
{
    // An empty word stores nothing and only tells whether there is room for one more.
    if (ConfigureManager::sharedInstance().addNewWord(QString())) {
        changeData();
        // The user types the word into a new row, as in any editable list; the placeholder
        // is a hint, never a key word of its own.
        m_newWordRow = m_tableView->rowCount();
        {
            const QSignalBlocker block(m_tableView);
            m_tableView->setRowCount(m_newWordRow + 1);
            m_tableView->setItem(m_newWordRow, 0, new QTableWidgetItem);
        }
        m_tableView->scrollToBottom();
        m_tableView->setCurrentCell(m_newWordRow, 0);
        m_tableView->editItem(m_tableView->item(m_newWordRow, 0));
        if (auto* editor = qobject_cast<QLineEdit*>(m_tableView->indexWidget(m_tableView->currentIndex())))
            editor->setPlaceholderText(QStringLiteral("新关键字"));
        return;
    }
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("超过最大数量");
    alert.informativeText = QStringLiteral("关键字最多可以添加25");
    alert.buttons = {QStringLiteral("知道了")};
    Alerts::current().show(window(), alert);
}

void PrivacyViewController::removeButtonClicked()
{
    const QList<QTableWidgetItem*> selected = m_tableView->selectedItems();
    if (selected.isEmpty())
        return;
    ConfigureManager::sharedInstance().removeKeyWordAtIndex(selected.first()->row());
    changeData();
}

void PrivacyViewController::analySecertClicked()
{
    const Qt::CheckState state = m_analySecertButton->checkState();
    if (state != Qt::PartiallyChecked)
        Utils::setAnalySecert(state == Qt::Checked);
}

void PrivacyViewController::fileAsSecertClicked()
{
    const Qt::CheckState state = m_fileAsSecertButton->checkState();
    if (state != Qt::PartiallyChecked)
        Utils::setFileAsSecert(state == Qt::Checked);
}

void PrivacyViewController::advancePrivacyClicked()
{
    if (!m_advancePrivacyButton->isChecked()) {
        Utils::setAdvancePrivacy(false);
        m_editScriptButton->hide();
        return;
    }
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("确认开启高级隐私模式?");
    alert.informativeText =
        QStringLiteral("高级隐私模式需要lua编程或有编程基础的用户，开启后简单的关键字识别将不再使用，请谨慎选择.");
    alert.buttons = {QStringLiteral("取消"), QStringLiteral("开启")};
    alert.defaultButton = 0;
    // Escape must not be the button that turns the mode on.
    alert.escapeButton = 0;
    QPointer<PrivacyViewController> self(this);
    Alerts::current().show(window(), alert, [self](int button) {
        if (!self)
            return;
        const int code = 1000 + button;
        if (code == kCancelCode || code == kTurnOnCode)
            Utils::setAdvancePrivacy(code == kTurnOnCode);
        // However the sheet closed, the check box shows the stored mode.
        setChecked(self->m_advancePrivacyButton, Utils::isAdvancePrivacy());
        self->m_editScriptButton->setVisible(self->m_advancePrivacyButton->isChecked());
    });
}

void PrivacyViewController::editScriptClicked()
{
    if (m_controllerWindow)
        return;
    auto* editor = new ScriptEditWindowController(window());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    m_controllerWindow = editor;
    connect(editor, &QDialog::finished, this, [this] { m_controllerWindow = nullptr; });
    editor->setWindowModality(Qt::WindowModal);
    editor->open();
}
