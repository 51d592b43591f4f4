#include "windows/preferences/settingwindowcontroller.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "store/configuremanager.h"
#include "store/notificationnames.h"
#include "windows/appicon.h"
#include "windows/preferences/aboutviewcontroller.h"
#include "windows/preferences/generalviewcontroller.h"
#include "windows/preferences/privacyviewcontroller.h"
#include "windows/preferences/userinfoviewcontroller.h"
#include "windows/preferences/userloginviewcontroller.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

// Qt resources inside a static library are only linked in when something names them.
static void initPreferencesResources()
{
    Q_INIT_RESOURCE(preferences);
}

namespace {

SettingWindowController* g_instance = nullptr;

struct SideBarButton {
    const char* title;
    const char* image;
    const char* alternateImage;
};

const SideBarButton kButtons[] = {
    {"常规", "work-white-32", "work-gray-32"},
    {"用户", "icon1-white", "icon1-gray"},
    {"隐私", "tab_privacy_white", "tab_privacy_gray"},
    {"关于", "about-white", "about-gray"},
};

QIcon buttonIcon(const SideBarButton& button)
{
    QIcon icon;
    const QString normal = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(button.image));
    const QString alternate = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(button.alternateImage));
    icon.addFile(normal, {}, QIcon::Normal);
    icon.addFile(normal, {}, QIcon::Active);
    icon.addFile(alternate, {}, QIcon::Selected);
    return icon;
}

// Draws the selection image at the right edge of the selected row, pointing at the panel.
class SideBarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!(option.state & QStyle::State_Selected))
            return;
        static const QPixmap pointer = SettingWindowController::buildSelectionImage();
        const QRect& r = option.rect;
        painter->drawPixmap(r.right() - pointer.width() + 1, r.center().y() - pointer.height() / 2, pointer);
    }
};

}  // namespace

SettingWindowController& SettingWindowController::sharedInstance()
{
    if (!g_instance) {
        g_instance = new SettingWindowController;
        // A top-level widget must go before the application object does.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, g_instance, [] { resetSharedInstanceForTesting(); });
    }
    return *g_instance;
}

void SettingWindowController::resetSharedInstanceForTesting()
{
    delete g_instance;
    g_instance = nullptr;
}

SettingWindowController::SettingWindowController()
    : m_services(PreferencesServices::real())
{
    initPreferencesResources();
    setWindowTitle(QStringLiteral("偏好设置"));
    setWindowIcon(appIcon());
    setObjectName(QStringLiteral("SettingWindowController"));
    NotificationCenter& center = NotificationCenter::defaultCenter();
    for (const QLatin1String name : {NotificationName::UserLogouted, NotificationName::UserLogined})
        center.addObserver(name, this, [this](const Notification&) { reloadController(); });
    awakeFromNib();
}

SettingWindowController::~SettingWindowController()
{
    NotificationCenter::defaultCenter().removeObserversOf(this);
}

void SettingWindowController::setServices(PreferencesServices services)
{
    m_services = std::move(services);
}

void SettingWindowController::awakeFromNib()
{
    m_sideBar = new QListWidget(this);
    m_sideBar->setObjectName(QStringLiteral("SettingSideBar"));
    m_sideBar->setViewMode(QListView::IconMode);
    m_sideBar->setFlow(QListView::TopToBottom);
    m_sideBar->setMovement(QListView::Static);
    m_sideBar->setResizeMode(QListView::Adjust);
    m_sideBar->setWrapping(false);
    m_sideBar->setIconSize(QSize(32, 32));
    m_sideBar->setGridSize(QSize(96, 80));
    m_sideBar->setSpacing(0);
    m_sideBar->setFixedWidth(96);
    m_sideBar->setFrameShape(QFrame::NoFrame);
    m_sideBar->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sideBar->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sideBar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sideBar->setItemDelegate(new SideBarDelegate(m_sideBar));
    m_sideBar->setStyleSheet(QStringLiteral(
        "QListWidget#SettingSideBar { background: #3a3d42; color: white; outline: 0; padding-top: 10px; }"
        "QListWidget#SettingSideBar::item { color: white; border: none; padding-top: 6px; }"
        "QListWidget#SettingSideBar::item:selected { background: #2a2c30; color: #c8c9cc; }"));
    for (const SideBarButton& button : kButtons) {
        auto* item = new QListWidgetItem(buttonIcon(button), QString::fromUtf8(button.title), m_sideBar);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        item->setSizeHint(QSize(96, 66));
    }

    m_panelView = new QWidget(this);
    m_panelView->setObjectName(QStringLiteral("panelView"));
    // The panel fills the area at every opening and follows the window's size: a panel made
    // before the first show would otherwise keep Qt's pre-layout size.
    auto* panelLayout = new QVBoxLayout(m_panelView);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sideBar);
    layout->addWidget(m_panelView, 1);
    // Small enough for any screen, large enough that no pane is squeezed.
    setMinimumSize(560, 420);
    resize(640, 460);

    // Panel 0 is made when the window is first shown, so whoever set the services first
    // (tests) has them in the first panel too.
    m_sideBar->setCurrentRow(0);
    connect(m_sideBar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            sideBarDidSelectButton(row);
    });
}

QPixmap SettingWindowController::buildSelectionImage()
{
    QPixmap image(12, 22);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(13, 0);
    path.lineTo(0, 11);
    path.lineTo(13, 22);
    path.closeSubpath();
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.setBrush(QApplication::palette().color(QPalette::Window));
    painter.drawPath(path);
    return image;
}

int SettingWindowController::selectedIndex() const
{
    return m_sideBar->currentRow();
}

void SettingWindowController::showWindow(QObject*)
{
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    if (!m_current)
        changeViewControllerAtIndex(selectedIndex());
    show();
    raise();
    activateWindow();
}

void SettingWindowController::showPanel(int index)
{
    if (index < General || index > About)
        return;
    const QSignalBlocker block(m_sideBar);
    m_sideBar->setCurrentRow(index);
    changeViewControllerAtIndex(index);
}

void SettingWindowController::activeEncryptPanel()
{
    if (auto* user = qobject_cast<UserInfoViewController*>(m_current.data()))
        user->activeEncryptPINView();
}

void SettingWindowController::sideBarDidSelectButton(int index)
{
    changeViewControllerAtIndex(index);
}

void SettingWindowController::changeViewControllerAtIndex(int index)
{
    QWidget* next = nullptr;
    switch (index) {
    case General: next = new GeneralViewController(m_services); break;
    case User:
        if (ConfigureManager::sharedInstance().isLogined())
            next = new UserInfoViewController(m_services);
        else
            next = new UserloginViewController(m_services);
        break;
    case Privacy: next = new PrivacyViewController; break;
    case About: next = new AboutViewController(m_services); break;
    default: break;
    }
    if (next) {
        if (m_current) {
            m_current->hide();
            m_panelView->layout()->removeWidget(m_current);
            // Later: the old panel may be the one whose callback or action runs now.
            m_current->deleteLater();
        }
        m_current = next;
    }
    if (!m_current)
        return;
    if (m_current->parentWidget() != m_panelView)
        m_panelView->layout()->addWidget(m_current);
    m_current->setGeometry(m_panelView->rect());
    m_current->show();
}

void SettingWindowController::reloadController()
{
    changeViewControllerAtIndex(selectedIndex());
    dispatch::mainAsync([rebuild = m_services.rebuildMenu] {
        if (rebuild)
            rebuild();
    });
}

void SettingWindowController::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
