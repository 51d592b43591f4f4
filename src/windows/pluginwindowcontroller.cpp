#include "windows/pluginwindowcontroller.h"

#include "platform/bundle.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "plugins/pluginmanager.h"
#include "service/clippluginpackagehelper.h"
#include "service/pluginlistrequestmanager.h"
#include "store/clipapphelper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "windows/alerts.h"
#include "windows/appicon.h"
#include "windows/pluginstoretableviewcell.h"
#include "windows/progressoverlay.h"

#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QPushButton>
#include <QScreen>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <spdlog/spdlog.h>

namespace {

constexpr auto kOverlayHideDelay = std::chrono::milliseconds(200);

QTableWidget* makeTable(QWidget* parent, bool store)
{
    QStringList titles{QStringLiteral("名称"), QStringLiteral("版本"), QStringLiteral("描述"),
                       QStringLiteral("作者")};
    if (store)
        titles << QStringLiteral("操作");
    auto* table = new QTableWidget(0, int(titles.size()), parent);
    table->setHorizontalHeaderLabels(titles);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(store ? QAbstractItemView::NoSelection : QAbstractItemView::SingleSelection);
    table->verticalHeader()->setVisible(false);
    table->setWordWrap(false);
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(PluginWindowController::DescColumn, QHeaderView::Stretch);
    table->setColumnWidth(PluginWindowController::NameColumn, 150);
    table->setColumnWidth(PluginWindowController::VersionColumn, 70);
    table->setColumnWidth(PluginWindowController::AuthorColumn, 110);
    if (store)
        table->setColumnWidth(PluginWindowController::OptColumn, 80);
    return table;
}

QJsonObject replyObject(const QVariant& result)
{
    if (result.typeId() == QMetaType::QJsonObject)
        return result.toJsonObject();
    if (result.typeId() == QMetaType::QVariantMap)
        return QJsonObject::fromVariantMap(result.toMap());
    return QJsonObject();
}

bool isReplyDictionary(const QVariant& result)
{
    return result.typeId() == QMetaType::QJsonObject || result.typeId() == QMetaType::QVariantMap;
}

}  // namespace

PluginWindowController& PluginWindowController::sharedInstance()
{
    // Kept for the whole process, like the window it stands for.
    static PluginWindowController* instance =
        new PluginWindowController(PluginManager::sharedInstance(), ClipPluginPackageHelper::sharedInstance());
    return *instance;
}

PluginWindowController::PluginWindowController(PluginManager& manager, ClipPluginPackageHelper& packageHelper,
                                               QWidget* parent)
    : QWidget(parent, Qt::Window), m_manager(manager), m_packageHelper(packageHelper)
{
    windowDidLoad();
}

PluginWindowController::~PluginWindowController() = default;

QString PluginWindowController::builtinDeveloperPage()
{
    return QStringLiteral("https://www.nuvarel.com/developer/");
}

void PluginWindowController::windowDidLoad()
{
    setWindowTitle(QStringLiteral("插件"));
    setWindowIcon(appIcon());
    resize(760, 460);

    m_tabView = new QTabWidget(this);
    m_tableView = makeTable(m_tabView, false);
    m_storeTableView = makeTable(m_tabView, true);
    m_tabView->addTab(m_tableView, QStringLiteral("已安装"));
    // An empty store says so, rather than showing a bare table.
    auto* storeTab = new QWidget(m_tabView);
    m_storeEmptyLabel = new QLabel(QStringLiteral("插件商店暂时没有可添加的插件"), storeTab);
    m_storeEmptyLabel->setObjectName(QStringLiteral("storeEmptyLabel"));
    m_storeEmptyLabel->setAlignment(Qt::AlignCenter);
    m_storeEmptyLabel->setContentsMargins(0, 12, 0, 12);
    auto* storeLayout = new QVBoxLayout(storeTab);
    storeLayout->setContentsMargins(0, 0, 0, 0);
    storeLayout->addWidget(m_storeEmptyLabel);
    storeLayout->addWidget(m_storeTableView, 1);
    m_tabView->addTab(storeTab, QStringLiteral("插件商店"));
    connect(m_tabView, &QTabWidget::currentChanged, this, [this](int index) {
        spdlog::info("plugin window tab: {}", m_tabView->tabText(index).toStdString());
    });

    m_addButton = new QPushButton(QStringLiteral("从文件添加…"), this);
    m_removeButton = new QPushButton(QStringLiteral("删除"), this);
    m_guideButton = new QPushButton(QStringLiteral("入门指南"), this);
    m_helpButton = new QPushButton(QStringLiteral("开发者主页"), this);
    for (QPushButton* button : {m_addButton, m_removeButton, m_guideButton, m_helpButton})
        button->setAutoDefault(false);
    connect(m_addButton, &QPushButton::clicked, this, &PluginWindowController::addClicked);
    connect(m_removeButton, &QPushButton::clicked, this, &PluginWindowController::removeClicked);
    connect(m_guideButton, &QPushButton::clicked, this, &PluginWindowController::getingStart);
    connect(m_helpButton, &QPushButton::clicked, this, &PluginWindowController::helpClicked);

    // Only the user's own plugins can be removed; the button says so before a click.
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PluginWindowController::updateRemoveButton);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch(1);
    buttons->addWidget(m_guideButton);
    buttons->addWidget(m_helpButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabView, 1);
    layout->addLayout(buttons);

    m_storeRequestManager = std::make_shared<PluginListRequestManager>();
    reloadInstalledTableView();
    reloadStoreTableView();
}

void PluginWindowController::showWindow(QObject*)
{
    if (!m_centred) {
        m_centred = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    reloadInstalledTableView();
    reloadStoreTableView();
    show();
    raise();
    activateWindow();
    requestRemoteData();
}

void PluginWindowController::requestRemoteData()
{
    QPointer<PluginWindowController> self(this);
    m_storeRequestManager->request(
        [self](const QVariant& result, int status, const std::optional<RequestError>& error) {
            if (self)
                self->handleStoreReply(result, status, error.has_value());
        });
}

void PluginWindowController::handleStoreReply(const QVariant& result, int status, bool failed)
{
    // Anything but a good reply leaves the cached list on screen.
    const QJsonObject reply = replyObject(result);
    if (status != 200 || failed || !isReplyDictionary(result)
        || NumberReader::jsonInteger(reply.value(QLatin1String("code")).toVariant()) != 0) {
        emit storeReplyHandled(false);
        return;
    }
    if (!PluginStoreList::storeCache(reply))
        spdlog::error("plugin list cache not written: {}", PluginStoreList::cacheFilePath().toStdString());
    updateInstalledPlugins(PluginStoreList::fromReply(reply));
    reloadStoreTableView();
    emit storeReplyHandled(true);
}

void PluginWindowController::updateInstalledPlugins(const PluginStoreList& list)
{
    // Only user plugins: a built-in plugin is never replaced from the store.
    const PluginDict installed = m_manager.listUserPlugins();
    QPointer<PluginWindowController> self(this);
    for (const PluginObjectPtr& offered : list.plugins()) {
        const QString bundleId = offered->plugin_bundle_id().value_or(QString());
        const PluginObjectPtr current = installed.value(bundleId);
        const std::optional<QString>& offeredVersion = offered->plugin_version();
        if (!current || !offeredVersion || offeredVersion->isEmpty())
            continue;
        const std::optional<QString> larger =
            Utils::largeVersion(current->plugin_version().value_or(QString()), *offeredVersion);
        if (!larger || *larger != *offeredVersion)
            continue;
        QFile::remove(PathHelper::getPluginsPackageCachePath(ClipPluginPackageHelper::fileNameFromPlugin(*current)));
        m_packageHelper.installPackageFromUrl(list.urlFor(bundleId), offered, [self](bool) {
            if (self)
                self->afterInstallOrRemoval();
        });
    }
}

void PluginWindowController::afterInstallOrRemoval()
{
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
    reloadInstalledTableView();
    reloadStoreTableView();
}

void PluginWindowController::fillRow(QTableWidget* table, int row, const PluginObject& plugin)
{
    const std::optional<QString>* texts[] = {&plugin.plugin_name(), &plugin.plugin_version(),
                                             &plugin.plugin_desc(), &plugin.plugin_author()};
    for (int column = NameColumn; column <= AuthorColumn; ++column) {
        const QString text = texts[column]->value_or(QString());
        auto* item = new QTableWidgetItem(text);
        item->setToolTip(text);
        table->setItem(row, column, item);
    }
}

void PluginWindowController::reloadInstalledTableView()
{
    // One listing per reload: the rows and the removal index the same snapshot.
    m_installed = m_manager.listPlugins().values();
    m_tableView->clearContents();
    m_tableView->setRowCount(int(m_installed.size()));
    for (int row = 0; row < m_installed.size(); ++row)
        fillRow(m_tableView, row, *m_installed[row]);
    updateRemoveButton();
}

int PluginWindowController::selectedInstalledRow() const
{
    const QModelIndexList selected = m_tableView->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    const int row = selected.first().row();
    return row >= 0 && row < m_installed.size() ? row : -1;
}

void PluginWindowController::updateRemoveButton()
{
    const int row = selectedInstalledRow();
    m_removeButton->setEnabled(row >= 0 && m_installed[row]->source() == PluginObject::Source::User);
}

void PluginWindowController::reloadStoreTableView()
{
    m_storeList = PluginStoreList::fromReply(PluginStoreList::readCache());
    const PluginDict installed = m_manager.listPlugins();
    m_storeArray.clear();
    for (const PluginObjectPtr& plugin : m_storeList.plugins()) {
        if (!installed.contains(plugin->plugin_bundle_id().value_or(QString())))
            m_storeArray.append(plugin);
    }

    m_storeTableView->clearContents();
    m_storeTableView->setRowCount(int(m_storeArray.size()));
    for (int row = 0; row < m_storeArray.size(); ++row) {
        fillRow(m_storeTableView, row, *m_storeArray[row]);
        auto* cell = new PluginStoreTableViewCell(m_storeTableView);
        QPushButton* button = cell->addButton();
        connect(button, &QPushButton::clicked, this, [this, button] { optButtonClickect(button); });
        m_storeTableView->setCellWidget(row, OptColumn, cell);
    }
    m_storeEmptyLabel->setVisible(m_storeArray.isEmpty());
}

void PluginWindowController::optButtonClickect(QObject* sender)
{
    int row = -1;
    for (int r = 0; r < m_storeTableView->rowCount() && sender; ++r) {
        auto* cell = qobject_cast<PluginStoreTableViewCell*>(m_storeTableView->cellWidget(r, OptColumn));
        if (cell && cell->addButton() == sender)
            row = r;
    }
    if (row < 0 || row >= m_storeArray.size())
        return;
    const PluginObjectPtr plugin = m_storeArray[row];
    const QString url = m_storeList.urlFor(plugin->plugin_bundle_id().value_or(QString()));

    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(this, QStringLiteral("添加中..."));
    m_overlay = overlay;
    QPointer<PluginWindowController> self(this);
    m_packageHelper.installPackageFromUrl(url, plugin, [self, overlay](bool) {
        if (overlay) {
            overlay->setLabelText(QStringLiteral("完成中"));
            overlay->hideAfter(kOverlayHideDelay);
        }
        if (self)
            self->afterInstallOrRemoval();
    });
}

void PluginWindowController::addClicked()
{
    if (m_openPanel) {
        m_openPanel->raise();
        return;
    }
    auto* panel = new QFileDialog(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("选择"));
    // Where a downloaded package lands, else the home folder; never the folder the app was
    // started from.
    const QString downloads = QDir::homePath() + QStringLiteral("/Downloads");
    panel->setDirectory(QFileInfo(downloads).isDir() ? downloads : QDir::homePath());
    m_openPanel = panel;
    QPointer<PluginWindowController> self(this);
    // filesSelected: Qt's own dialog does not always send urlsSelected.
    connect(panel, &QFileDialog::filesSelected, this, [this, self](const QStringList& files) {
        for (const QString& file : files) {
            m_manager.installPlugin(QUrl::fromLocalFile(file), [self, file](int code) {
                if (code != 0)
                    spdlog::error("plugin install err: {}", code);
                if (!self)
                    return;
                self->afterInstallOrRemoval();
                // The user chose this file: say when it did not become a plugin.
                if (code != 0) {
                    Alert alert;
                    alert.icon = Alert::Icon::Warning;
                    alert.messageText = QStringLiteral("插件安装失败");
                    alert.informativeText = QStringLiteral("“%1”不是可以安装的插件包。").arg(QFileInfo(file).fileName());
                    Alerts::current().show(self, alert);
                }
            });
        }
    });
    panel->open();
}

void PluginWindowController::removeClicked()
{
    const int row = selectedInstalledRow();
    if (row < 0)
        return;
    QPointer<PluginWindowController> self(this);
    m_manager.removePlugin(m_installed[row], [self] {
        if (self)
            self->afterInstallOrRemoval();
    });
}

void PluginWindowController::helpClicked()
{
    const std::optional<QString> stored = UserDefaults::standard().string(DefaultsKey::DeveloperPage);
    // The page comes from the server: only a web address is opened, never a local file.
    QUrl page = stored && PluginStoreList::isPackageURL(*stored) ? QUrl(*stored) : QUrl();
    if (page.isEmpty())
        page = QUrl(builtinDeveloperPage());
    ClipAppHelper::sharedInstance().openURL(page);
}

void PluginWindowController::getingStart()
{
    const QString guide = Bundle::pathForResource(QStringLiteral("GettingStart"), QStringLiteral("pdf"));
    if (guide.isEmpty()) {
        spdlog::error("plugin guide GettingStart.pdf not found");
        return;
    }
    ClipAppHelper::sharedInstance().openURL(QUrl::fromLocalFile(guide));
}

void PluginWindowController::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
