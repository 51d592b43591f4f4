#include "app/shortcutcontroller.h"

#include "app/menucontroller.h"
#include "store/clipuserdefaults.h"

#include <spdlog/spdlog.h>

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string describe(const Shortcut& shortcut)
{
    const QString text = KeyTranslation::keySequenceForShortcut(shortcut).toString();
    if (!text.isEmpty())
        return text.toStdString();
    return "key code " + std::to_string(shortcut.keyCode) + " flags " + std::to_string(shortcut.modifierFlags);
}

}  // namespace

ShortcutController& ShortcutController::sharedInstance()
{
    static ShortcutController instance([] { MenuController::sharedInstance().showMenu(); });
    return instance;
}

ShortcutController::ShortcutController(Action action)
    : m_action(std::move(action))
{
    registerStored();
}

void ShortcutController::resetForTests()
{
    registerStored();
}

void ShortcutController::registerStored()
{
    if (isShortcutOff()) {
        setShortcut(std::nullopt);
        return;
    }
    if (const auto stored = storedShortcut())
        setShortcut(stored);
    else
        setShortcut(Shortcut::defaultShortcut());
}

ShortcutController::~ShortcutController() = default;

void ShortcutController::setShortcut(const std::optional<Shortcut>& shortcut)
{
    m_shortcut = shortcut;
    GlobalHotkey& monitor = GlobalHotkey::current();
    monitor.unregisterAllShortcuts();
    m_status = GlobalHotkey::Status::Off;
    if (!m_shortcut)
        return;
    saveShortcut();
    Action action = m_action;
    m_status = monitor.registerShortcut(*m_shortcut, [action] {
        if (action)
            action();
    });
    if (m_status == GlobalHotkey::Status::Registered)
        spdlog::info("hotkey {} registered", describe(*m_shortcut));
    else
        spdlog::warn("hotkey {} not registered: {}", describe(*m_shortcut), GlobalHotkey::statusName(m_status));
}

GlobalHotkey::Status ShortcutController::changeShortcut(const Shortcut& shortcut)
{
    const std::optional<Shortcut> previous = m_shortcut;
    GlobalHotkey& monitor = GlobalHotkey::current();
    monitor.unregisterAllShortcuts();
    Action action = m_action;
    const GlobalHotkey::Status status = monitor.registerShortcut(shortcut, [action] {
        if (action)
            action();
    });
    if (status == GlobalHotkey::Status::Registered) {
        m_shortcut = shortcut;
        m_status = status;
        saveShortcut();
        spdlog::info("hotkey {} registered", describe(shortcut));
        return status;
    }
    spdlog::warn("hotkey {} not registered: {}; the previous one stays", describe(shortcut),
                 GlobalHotkey::statusName(status));
    setShortcut(previous);
    return status;
}

void ShortcutController::saveShortcut()
{
    if (!m_shortcut)
        return;
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    defaults.setValue(key(kKeyCodeKey), QVariant::fromValue<qint64>(m_shortcut->keyCode));
    defaults.setValue(key(kModifierFlagsKey), QVariant::fromValue<qint64>(m_shortcut->modifierFlags));
}

void ShortcutController::shortcutOff()
{
    setShortcut(std::nullopt);
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    defaults.setValue(key(kKeyCodeKey), QVariant::fromValue<qint64>(Shortcut::OffMarker));
    defaults.setValue(key(kModifierFlagsKey), QVariant::fromValue<qint64>(Shortcut::OffMarker));
}

std::optional<Shortcut> ShortcutController::storedShortcut()
{
    const UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    const auto keyCode = defaults.integerForKey(key(kKeyCodeKey));
    const auto modifierFlags = defaults.integerForKey(key(kModifierFlagsKey));
    if (!keyCode || !modifierFlags)
        return std::nullopt;
    return Shortcut{*keyCode, *modifierFlags};
}

bool ShortcutController::isShortcutOff()
{
    const UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    if (defaults.integerForKey(key(kKeyCodeKey)).value_or(0) == Shortcut::OffMarker)
        return true;
    return defaults.integerForKey(key(kModifierFlagsKey)).value_or(0) == Shortcut::OffMarker;
}
