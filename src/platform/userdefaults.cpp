#include "platform/userdefaults.h"

#include "platform/numberreader.h"

#include <QEvent>
#include <QSettings>

#include <spdlog/spdlog.h>

namespace {

// QSettings posts itself an update request on each change and writes the file when its
// thread's event loop takes it: outside UserDefaults' lock, racing the writers. Every write
// here reaches the file at once instead, so the request is dropped.
class SettingsFile : public QSettings {
public:
    using QSettings::QSettings;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            return true;
        return QSettings::event(event);
    }
};

}  // namespace

UserDefaults& UserDefaults::standard()
{
    static UserDefaults store;
    return store;
}

UserDefaults::UserDefaults()
{
    open(QString());
}

void UserDefaults::useFile(const QString& path)
{
    UserDefaults& store = standard();
    QMutexLocker lock(&store.m_mutex);
    store.open(path);
}

void UserDefaults::open(const QString& path)
{
    if (m_settings)
        syncLocked();
    if (path.isEmpty())
        m_settings = std::make_unique<SettingsFile>(QSettings::IniFormat, QSettings::UserScope,
                                                    QStringLiteral("Nuvarel"), QStringLiteral("Nuvarel"));
    else
        m_settings = std::make_unique<SettingsFile>(path, QSettings::IniFormat);
}

QString UserDefaults::fileName() const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->fileName();
}

bool UserDefaults::contains(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->contains(key);
}

QVariant UserDefaults::value(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->value(key);
}

bool UserDefaults::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    if (!value.isValid())
        m_settings->remove(key);
    else
        m_settings->setValue(key, value);
    return syncLocked();
}

bool UserDefaults::remove(const QString& key)
{
    return setValue(key, QVariant());
}

bool UserDefaults::boolForKey(const QString& key, bool defaultValue) const
{
    const QVariant v = value(key);
    if (!v.isValid())
        return defaultValue;
    // An INI file gives back "true"/"false" text after a restart.
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("no") || s.isEmpty())
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        return ok && d != 0.0;
    }
    return v.toBool();
}

bool UserDefaults::setBool(const QString& key, bool value)
{
    return setValue(key, value);
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant v = value(key);
    if (!v.isValid() || !v.canConvert<QString>())
        return std::nullopt;
    if (v.typeId() == QMetaType::QStringList || v.typeId() == QMetaType::QVariantList
        || v.typeId() == QMetaType::QVariantMap || v.typeId() == QMetaType::QByteArray)
        return std::nullopt;
    return v.toString();
}

QStringList UserDefaults::stringList(const QString& key) const
{
    const QVariant v = value(key);
    if (!v.isValid())
        return {};
    // An INI file stores a one-element list as a plain string.
    if (v.typeId() == QMetaType::QString)
        return {v.toString()};
    return v.toStringList();
}

QVariantMap UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = value(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v.toByteArray();
}

std::optional<double> UserDefaults::doubleForKey(const QString& key) const
{
    return NumberReader::realNumber(value(key));
}

std::optional<qint64> UserDefaults::integerForKey(const QString& key) const
{
    // A hand-edited "keyCode=1e30" is out of range: nothing, never an undefined conversion.
    return NumberReader::wholeNumber(value(key));
}

bool UserDefaults::sync()
{
    QMutexLocker lock(&m_mutex);
    return syncLocked();
}

bool UserDefaults::syncLocked()
{
    m_settings->sync();
    const QSettings::Status status = m_settings->status();
    if (status == QSettings::NoError)
        return true;
    spdlog::error("settings file {} could not be {}", m_settings->fileName().toStdString(),
                  status == QSettings::AccessError ? "written" : "read");
    return false;
}
