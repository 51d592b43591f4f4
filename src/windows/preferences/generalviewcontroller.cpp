#include "windows/preferences/generalviewcontroller.h"

#include "app/clipcontroller.h"
#include "app/shortcutcontroller.h"
#include "platform/globalhotkey.h"
#include "platform/nmloginitems.h"
#include "platform/notificationcenter.h"
#include "platform/numberreader.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "store/utils.h"
#include "sync/clearhistoryrequestmanager.h"
#include "windows/alerts.h"
#include "windows/preferences/hotkeyrecorder.h"
#include "windows/progressoverlay.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <spdlog/spdlog.h>

namespace {

constexpr int kStops[] = {0, 20, 40, 60, 80, 100};
constexpr double kIntervals[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
constexpr double kDefaultInterval = 0.6;
constexpr int kClearCode = 1000;

int nearestStop(int position)
{
    return (position + 10) / 20 * 20;
}

QString programPath()
{
    return QCoreApplication::applicationFilePath();
}

void setChecked(QCheckBox* box, bool on)
{
    const QSignalBlocker block(box);
    box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// The alert that ends a clear; the overlay goes first.
void finishClear(QPointer<QWidget> window, QPointer<ProgressOverlay> overlay, qsizetype count)
{
    NotificationCenter::defaultCenter().post(NotificationName::DataChanged);
    if (overlay)
        overlay->hideAfter(std::chrono::milliseconds(0));
    Alert alert;
    alert.icon = Alert::Icon::Information;
    alert.messageText = QStringLiteral("共清空了：%1条").arg(count);
    Alerts::current().show(window.data(), alert);
}

// Why a recorded hotkey could not be registered, and what works instead.
Alert registrationFailure(const Shortcut& wanted, GlobalHotkey::Status status, const std::optional<Shortcut>& kept)
{
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    const QString combination = HotkeyRecorder::textForShortcut(wanted);
    switch (status) {
    case GlobalHotkey::Status::Taken:
        alert.messageText = QStringLiteral("组合键 %1 已被其他程序占用").arg(combination);
        break;
    case GlobalHotkey::Status::Unavailable:
        alert.messageText = QStringLiteral("此桌面不支持全局快捷键");
        break;
    default:
        alert.messageText = QStringLiteral("组合键 %1 无法使用").arg(combination);
        break;
    }
    alert.informativeText = kept ? QStringLiteral("快捷键仍为 %1。").arg(HotkeyRecorder::textForShortcut(*kept))
                                 : QStringLiteral("快捷键仍为关闭。");
    return alert;
}

// Removes the history rows that are not favourites with their bodies; the number removed.
qsizetype clearLocalHistory()
{
    const HistoryList removed = DBKeeper::clearAllHistory();
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(removed);
    return removed.size();
}

}  // namespace

GeneralViewController::GeneralViewController(PreferencesServices services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_shortcuts(m_services.shortcuts ? *m_services.shortcuts : ShortcutController::sharedInstance())
{
    setObjectName(QStringLiteral("GeneralViewController"));
    m_shortcutView = new HotkeyRecorder(this);
    m_startupButton = new QCheckBox(QStringLiteral("登录时启动"), this);
    m_setAutoPB = new QCheckBox(QStringLiteral("其他设备的剪贴自动设置到剪贴板"), this);
    m_speedSlider = new QSlider(Qt::Horizontal, this);
    m_speedSlider->setObjectName(QStringLiteral("speedSlider"));
    m_speedSlider->setRange(0, 100);
    m_speedSlider->setSingleStep(20);
    m_speedSlider->setPageStep(20);
    m_speedSlider->setTickInterval(20);
    m_speedSlider->setTickPosition(QSlider::TicksBelow);
    // One stored value per stop, not one per pixel of a drag.
    m_speedSlider->setTracking(false);
    m_speedSlider->setValue(100);
    m_speedLabel = new QLabel(this);
    m_speedLabel->setObjectName(QStringLiteral("speedLabel"));
    m_speedLabel->setMinimumWidth(36);
    m_clearButton = new QPushButton(QStringLiteral("清空历史纪录"), this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));

    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(QStringLiteral("快"), this));
    speedRow->addWidget(m_speedSlider, 1);
    speedRow->addWidget(new QLabel(QStringLiteral("慢"), this));
    speedRow->addSpacing(8);
    speedRow->addWidget(m_speedLabel);
    speedRow->addWidget(new QLabel(QStringLiteral("秒"), this));

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(14);
    form->setVerticalSpacing(16);
    form->addRow(QStringLiteral("快捷键："), m_shortcutView);
    form->addRow(QStringLiteral("启动："), m_startupButton);
    form->addRow(QStringLiteral("同步："), m_setAutoPB);
    form->addRow(QStringLiteral("检测间隔："), speedRow);
    form->addRow(QStringLiteral("历史纪录："), m_clearButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->addLayout(form);
    layout->addStretch(1);

    viewDidLoad();

    connect(m_startupButton, &QCheckBox::clicked, this, [this] { sender(); });
    connect(m_setAutoPB, &QCheckBox::clicked, this, [this] { autoSet(); });
    connect(m_speedSlider, &QSlider::valueChanged, this, [this] { sliderDidMove(); });
    // While dragging, the label follows the stop under the handle; the release stores it.
    connect(m_speedSlider, &QSlider::sliderMoved, this,
            [this](int position) { m_speedLabel->setText(intervalText(intervalForPosition(nearestStop(position)))); });
    connect(m_clearButton, &QPushButton::clicked, this, [this] { clearClicked(); });
}

double GeneralViewController::intervalForPosition(int position)
{
    for (int i = 0; i < 6; ++i) {
        if (kStops[i] == position)
            return kIntervals[i];
    }
    return kDefaultInterval;
}

std::optional<int> GeneralViewController::positionForInterval(double interval)
{
    for (int i = 0; i < 6; ++i) {
        if (kIntervals[i] == interval)
            return kStops[i];
    }
    return std::nullopt;
}

QString GeneralViewController::intervalText(double interval)
{
    return QString::number(interval, 'g', QLocale::FloatingPointShortest);
}

void GeneralViewController::viewDidLoad()
{
    m_shortcutView->setShortcutValue(m_shortcuts.shortcut());
    setChecked(m_startupButton, NMLoginItems::pathInLoginItems(programPath()));
    setChecked(m_setAutoPB, Utils::isAutoSetPasteboard());

    ShortcutController* shortcuts = &m_shortcuts;
    m_shortcutView->setShortcutValueChange([shortcuts](HotkeyRecorder* recorder) {
        const auto value = recorder->shortcutValue();
        if (!value) {
            shortcuts->shortcutOff();
            return;
        }
        const GlobalHotkey::Status status = shortcuts->changeShortcut(*value);
        if (status == GlobalHotkey::Status::Registered)
            return;
        // The previous hotkey still works: show it, and say why the new one cannot be used.
        recorder->setShortcutValue(shortcuts->shortcut());
        Alerts::current().show(recorder->window(), registrationFailure(*value, status, shortcuts->shortcut()));
    });
    // The hotkey is let go while recording, so the current one can be pressed and recorded
    // (a grabbed combination never reaches the recorder), and taken back after.
    m_shortcutView->setRecordingChange([shortcuts](bool recording) {
        if (recording)
            GlobalHotkey::current().unregisterAllShortcuts();
        else
            shortcuts->setShortcut(shortcuts->shortcut());
    });

    // What the watcher really polls with: a stored value it cannot use shows as the default.
    const double interval = ClipController::monitorSpeedFromSettings();
    if (const auto position = positionForInterval(interval)) {
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setValue(*position);
    }
    m_speedLabel->setText(intervalText(interval));
}

void GeneralViewController::sender()
{
    const Qt::CheckState state = m_startupButton->checkState();
    if (state == Qt::PartiallyChecked)
        return;
    const bool done = state == Qt::Checked ? NMLoginItems::addPathToLoginItems(programPath(), false)
                                           : NMLoginItems::removePathFromLoginItems(programPath());
    if (!done) {
        spdlog::warn("launch at login could not be {}", state == Qt::Checked ? "switched on" : "switched off");
        // The check box shows what is really there, not what was asked for.
        setChecked(m_startupButton, NMLoginItems::pathInLoginItems(programPath()));
    }
}

void GeneralViewController::autoSet()
{
    const Qt::CheckState state = m_setAutoPB->checkState();
    if (state != Qt::PartiallyChecked)
        Utils::setAutoSetPasteboard(state == Qt::Checked);
}

void GeneralViewController::sliderDidMove()
{
    int value = m_speedSlider->value();
    // The slider stops only at its six ticks.
    const int stop = nearestStop(value);
    if (stop != value) {
        m_speedSlider->setValue(stop);
        return;
    }
    const double interval = intervalForPosition(value);
    spdlog::info("clipboard poll interval set to {} s (slider at {})", interval, value);
    ClipUserDefaults::standardUserDefaults().setValue(DefaultsKey::ClipMonitorSpeed, interval);
    m_speedLabel->setText(intervalText(interval));
    if (m_services.restartPoll)
        m_services.restartPoll();
}

void GeneralViewController::clearClicked()
{
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("清空历史纪录?");
    alert.informativeText = QStringLiteral("点击清空将会删除您的所有历史纪录(除收藏外)");
    alert.buttons = {QStringLiteral("清空历史纪录"), QStringLiteral("取消")};
    alert.defaultButton = 0;
    alert.escapeButton = 1;
    QPointer<GeneralViewController> self(this);
    Alerts::current().show(window(), alert, [self](int button) {
        if (self)
            self->alertDidEndWithReturnCode(kClearCode + button);
    });
}

void GeneralViewController::alertDidEndWithReturnCode(int code)
{
    if (code != kClearCode)
        return;
    // The window outlives this pane: a login or logout may replace the pane meanwhile.
    QPointer<QWidget> window = this->window();
    QPointer<ProgressOverlay> overlay = ProgressOverlay::showAddedTo(window, QStringLiteral("删除中..."));
    // A press that still reaches the button (a mouse, a screen reader) must not start a second
    // clear while this one runs.
    m_clearButton->setEnabled(false);
    QPointer<QPushButton> button = m_clearButton;
    connect(overlay, &ProgressOverlay::hidden, m_clearButton, [button] {
        if (button)
            button->setEnabled(true);
    });
    if (!ConfigureManager::sharedInstance().isLogined()) {
        finishClear(window, overlay, clearLocalHistory());
        return;
    }
    auto request = std::make_shared<ClearHistoryRequestManager>();
    // The request is kept until its completion has run: its own wrapper reads it then.
    request->request([request, window, overlay](const QVariant& result, int, const std::optional<RequestError>& error) {
        if (error || !result.isValid()) {
            if (overlay) {
                overlay->setLabelText(QStringLiteral("清空失败"));
                overlay->hideAfter(std::chrono::milliseconds(300));
            }
            Alert alert;
            alert.icon = Alert::Icon::Information;
            alert.messageText = QStringLiteral("清空失败");
            Alerts::current().show(window.data(), alert);
            return;
        }
        const qsizetype removed = clearLocalHistory();
        // A missing or negative server count would read as a huge or wrong number.
        const auto count = NumberReader::jsonInteger(result.toMap().value(QStringLiteral("count")));
        finishClear(window, overlay, count && *count >= 0 ? qsizetype(*count) : removed);
    });
}
