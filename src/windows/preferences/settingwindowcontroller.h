#pragma once

#include "windows/preferences/preferencesservices.h"

#include <QPointer>
#include <QWidget>

class QListWidget;

// The one preferences window: a sidebar of four panels (General, User, Privacy, About) on
// the left, the chosen panel beside it. Each selection makes the panel anew, so every pane
// reads its settings again when shown, and the User panel follows the login state: a login
// or logout ("USER_LOGINED" / "USER_LOGOUTED") shows it again and then rebuilds the clip
// menu. The panes use this window as the parent of their alerts and overlays.
//
// Main thread only; made on first use once an application object exists.
class SettingWindowController : public QWidget {
    Q_OBJECT
public:
    enum Panel { General = 0, User = 1, Privacy = 2, About = 3 };

    static SettingWindowController& sharedInstance();
    // Tests only: the window is deleted (with its panel) and the next sharedInstance makes a
    // new one; never makes one.
    static void resetSharedInstanceForTesting();

    // Shows the window, raised and activated.
    void showWindow(QObject* sender = nullptr);
    // 0 to 3 selects that sidebar row and shows that panel; any other index does nothing.
    void showPanel(int index);
    // When the User panel of a logged-in user is on show, starts the encryption set-up.
    void activeEncryptPanel();
    // Replaces the panel: 0 to 3 makes a new panel of that row (for 1 by the login state
    // now); any other index shows the current panel again.
    void changeViewControllerAtIndex(int index);
    // Shows the selected row's panel anew, then has the clip menu rebuilt (queued).
    void reloadController();

    QListWidget* settingSideBar() const { return m_sideBar; }
    QWidget* panelView() const { return m_panelView; }
    QWidget* currentViewController() const { return m_current; }
    int selectedIndex() const;

    const PreferencesServices& services() const { return m_services; }
    void setServices(PreferencesServices services);

    // The sidebar's pointer at the selected row: a closed triangle 12 by 22.
    static QPixmap buildSelectionImage();

protected:
    // Escape closes the window, as it closes a sheet.
    void keyPressEvent(QKeyEvent* event) override;

private:
    SettingWindowController();
    ~SettingWindowController() override;
    void awakeFromNib();
    // The sidebar chose a row.
    void sideBarDidSelectButton(int index);

    PreferencesServices m_services;
    QListWidget* m_sideBar = nullptr;
    QWidget* m_panelView = nullptr;
    QPointer<QWidget> m_current;
    bool m_centred = false;
};
