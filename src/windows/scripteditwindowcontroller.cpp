#include "windows/scripteditwindowcontroller.h"

#include "plugins/advanceprivacymanager.h"
#include "windows/alerts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ScriptEditWindowController::ScriptEditWindowController(QWidget* parent, AdvancePrivacyManager* manager)
    : QDialog(parent)
    , m_manager(manager ? *manager : AdvancePrivacyManager::sharedInstance())
{
    setObjectName(QStringLiteral("ScriptEditWindowController"));
    setWindowTitle(QStringLiteral("隐私脚本"));
    setWindowModality(Qt::WindowModal);
    resize(640, 480);

    m_textEditView = new QPlainTextEdit(this);
    m_textEditView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_textEditView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textEditView->setTabChangesFocus(false);

    // Lua messages may hold "<" and must never be read as markup.
    m_errorLabelView = new QLabel(this);
    m_errorLabelView->setTextFormat(Qt::PlainText);
    m_errorLabelView->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_errorLabelView->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_luaLabel = new QLabel(this);
    m_luaLabel->setTextFormat(Qt::PlainText);

    m_revertButton = new QPushButton(QStringLiteral("恢复默认"), this);
    m_testButton = new QPushButton(QStringLiteral("测试"), this);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_doneButton = new QPushButton(QStringLiteral("完成"), this);
    // Return inserts a line break in the script; it must not end the dialog.
    for (QPushButton* button : {m_revertButton, m_testButton, m_cancelButton, m_doneButton})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_luaLabel);
    buttons->addStretch(1);
    buttons->addWidget(m_revertButton);
    buttons->addWidget(m_testButton);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_doneButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_textEditView, 1);
    layout->addWidget(m_errorLabelView);
    layout->addLayout(buttons);

    connect(m_testButton, &QPushButton::clicked, this, &ScriptEditWindowController::testClicked);
    connect(m_doneButton, &QPushButton::clicked, this, &ScriptEditWindowController::doneClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &ScriptEditWindowController::cancelClicked);
    connect(m_revertButton, &QPushButton::clicked, this, &ScriptEditWindowController::revertDefault);

    windowDidLoad();
}

QString ScriptEditWindowController::luaVersionText(const QString& versionNumber)
{
    // Lua reports 5.2 as the number 502; the user reads the release's name.
    bool ok = false;
    const int number = versionNumber.toInt(&ok);
    if (!ok || number < 100)
        return QStringLiteral("Lua");
    return QStringLiteral("Lua %1.%2").arg(number / 100).arg(number % 100);
}

void ScriptEditWindowController::windowDidLoad()
{
    m_errorLabelView->setText(QString());
    m_textEditView->setPlainText(m_manager.scriptContent().value_or(QString()));
    m_luaLabel->setText(luaVersionText(m_manager.luaVersion()));
}

void ScriptEditWindowController::testClicked()
{
    m_errorLabelView->setText(m_manager.testScript(m_textEditView->toPlainText()).value_or(QString()));
}

void ScriptEditWindowController::doneClicked()
{
    const QString text = m_textEditView->toPlainText();
    if (const auto error = m_manager.testScript(text)) {
        showError(*error);
        return;
    }
    m_manager.setScriptContent(text);
    done(1);
}

void ScriptEditWindowController::cancelClicked()
{
    done(0);
}

void ScriptEditWindowController::revertDefault()
{
    m_textEditView->setPlainText(m_manager.defaultScript().value_or(QString()));
}

void ScriptEditWindowController::showError(const QString& error)
{
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("错啦!");
    alert.informativeText = QStringLiteral("不能正确运行! 这里有问题:") + error
                            + QStringLiteral("\n可以再改改，或者点击取消!");
    alert.buttons = {QStringLiteral("我再改改")};
    // A sheet on the editor: modal to it only, and nothing waits for it.
    Alerts::current().show(this, alert);
}
