#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class QSettings;

// The one settings store of the application: a QSettings file, safe to use from several
// threads. Storing an invalid QVariant ("none") removes the key.
class UserDefaults {
public:
    static UserDefaults& standard();
    // Points the store at another file (tests use a file in their temporary folder).
    // An empty path goes back to the platform's own location.
    static void useFile(const QString& path);

    QString fileName() const;

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

    bool boolForKey(const QString& key, bool defaultValue) const;
    void setBool(const QString& key, bool value);
    std::optional<QString> string(const QString& key) const;
    QStringList stringList(const QString& key) const;
    QVariantMap dictionary(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<double> doubleForKey(const QString& key) const;
    std::optional<qint64> integerForKey(const QString& key) const;

    void sync();

private:
    UserDefaults();
    void open(const QString& path);

    // The last lock of every chain: nothing else is called while it is held.
    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};
