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
//
// The store is the one owner of its QSettings object: every read, every write and every
// write of the file happens under its lock. QSettings' own deferred write from the event loop
// of the thread that made it is switched off, since it would touch the object outside the
// lock. Instead every change is written to the file (atomically, through QSettings' save
// file) before the call returns, so a setting that a notification announces (the login, the
// device token, the key state) is on disk before anyone hears of it. A write the file refused
// is logged and answered false; the value still holds for this run.
class UserDefaults {
public:
    static UserDefaults& standard();
    // Points the store at another file (tests use a file in their temporary folder).
    // An empty path goes back to the platform's own location.
    static void useFile(const QString& path);

    QString fileName() const;

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    // True when the change reached the file.
    bool setValue(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    bool boolForKey(const QString& key, bool defaultValue) const;
    bool setBool(const QString& key, bool value);
    std::optional<QString> string(const QString& key) const;
    QStringList stringList(const QString& key) const;
    QVariantMap dictionary(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<double> doubleForKey(const QString& key) const;
    std::optional<qint64> integerForKey(const QString& key) const;

    // Reads changes another process made to the file; true when the file is in order.
    bool sync();

private:
    UserDefaults();
    void open(const QString& path);
    // With the lock held: writes the file now and checks how it went.
    bool syncLocked();

    // The last lock of every chain: nothing else is called while it is held.
    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};
