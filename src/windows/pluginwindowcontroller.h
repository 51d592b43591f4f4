#pragma once

#include "plugins/pluginobject.h"
#include "windows/pluginstorelist.h"
#include "windows/progressoverlay.h"

#include <QList>
#include <QFileDialog>
#include <QPointer>
#include <QWidget>

#include <memory>

class ClipPluginPackageHelper;
class PluginListRequestManager;
class PluginManager;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

// The plugin window: the installed plugins (built-in and user) and the plugin store's plugins
// that are not installed. It installs from a package file or from the store, removes user
// plugins, updates installed user plugins the store offers in a newer version, and opens the
// developer page and the plugin guide.
//
// The store list is cached in "NAME_PLUGIN_LIST" (data folder), so the window shows the last
// list at once and without a network. Everything runs on the main thread.
class PluginWindowController : public QWidget {
    Q_OBJECT
public:
    // Column identifiers of both tables; the store table has "opt" too.
    enum Column { NameColumn, VersionColumn, DescColumn, AuthorColumn, OptColumn };

    // The application's window, made on first use and kept for the whole process.
    static PluginWindowController& sharedInstance();
    // A window over the given manager and package helper (tests make their own).
    PluginWindowController(PluginManager& manager, ClipPluginPackageHelper& packageHelper,
                           QWidget* parent = nullptr);
    ~PluginWindowController() override;

    // Shows the window in front, reloads the installed plugins and asks the store for its
    // list (which also runs the automatic update).
    void showWindow(QObject* sender = nullptr);
    // Sends the store list request; a good reply replaces the cache, updates the installed
    // user plugins the store has newer, and reloads the store table.
    void requestRemoteData();
    // Rebuilds the store rows from the cache file: the cached entries whose bundle id is not
    // installed (built-in or user).
    void reloadStoreTableView();
    // Takes one listing of the installed plugins; the rows, cells and removal all use it.
    void reloadInstalledTableView();

    QTabWidget* tabView() const { return m_tabView; }
    QTableWidget* tableView() const { return m_tableView; }
    QTableWidget* storeTableView() const { return m_storeTableView; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* removeButton() const { return m_removeButton; }
    QPushButton* helpButton() const { return m_helpButton; }
    QPushButton* guideButton() const { return m_guideButton; }
    // Shown above the store table while the store offers nothing.
    QLabel* storeEmptyLabel() const { return m_storeEmptyLabel; }
    // The "choose a package" panel while it is open, else null.
    QFileDialog* openPanel() const { return m_openPanel; }
    // The progress overlay of a store install while it is shown, else null.
    ProgressOverlay* progressOverlay() const { return m_overlay; }

    const QList<PluginObjectPtr>& storeArray() const { return m_storeArray; }
    const QList<PluginObjectPtr>& installedArray() const { return m_installed; }
    const QMap<QString, QString>& pluginURLDict() const { return m_storeList.pluginURLDict(); }

    // The developer page used when the settings name none.
    static QString builtinDeveloperPage();

signals:
    // A store reply was handled: accepted (cached, updates started, table reloaded) or left
    // aside (a failed request or a reply that is not a good store list).
    void storeReplyHandled(bool accepted);

public slots:
    // The add button of a store row: installs that row's plugin from the store. A sender
    // that is no store row's button does nothing.
    void optButtonClickect(QObject* sender);
    // Opens a window-modal panel to choose a package file and installs the chosen file.
    void addClicked();
    // Removes the selected installed plugin (user plugins only); no selection does nothing.
    // The button is enabled only while a user plugin is selected.
    void removeClicked();
    // Opens the developer page ("developerPage", else the built-in page).
    void helpClicked();
    // Opens the plugin guide "GettingStart.pdf" with the desktop's viewer.
    void getingStart();

protected:
    // Escape closes the window, as it closes a sheet.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void windowDidLoad();
    void handleStoreReply(const QVariant& result, int status, bool failed);
    void updateInstalledPlugins(const PluginStoreList& list);
    void afterInstallOrRemoval();
    // The row of installedArray selected in the table, or -1.
    int selectedInstalledRow() const;
    void updateRemoveButton();
    void fillRow(QTableWidget* table, int row, const PluginObject& plugin);

    PluginManager& m_manager;
    ClipPluginPackageHelper& m_packageHelper;
    std::shared_ptr<PluginListRequestManager> m_storeRequestManager;

    QTabWidget* m_tabView = nullptr;
    QTableWidget* m_tableView = nullptr;
    QTableWidget* m_storeTableView = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_helpButton = nullptr;
    QPushButton* m_guideButton = nullptr;
    QLabel* m_storeEmptyLabel = nullptr;
    QPointer<QFileDialog> m_openPanel;
    QPointer<ProgressOverlay> m_overlay;
    bool m_centred = false;

    PluginStoreList m_storeList;
    QList<PluginObjectPtr> m_storeArray;
    QList<PluginObjectPtr> m_installed;
};
