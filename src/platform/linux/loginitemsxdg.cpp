#include "platform/linux/loginitemsxdg.h"

#include "platform/bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <spdlog/spdlog.h>

#include <unistd.h>

#include <cerrno>

namespace {

struct EntryKeys {
    QString exec;
    bool enabled = true;
};

// The keys of the [Desktop Entry] group that decide whether and what an entry starts.
EntryKeys readEntry(const QString& file)
{
    EntryKeys keys;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inMainGroup = false;
    const QStringList lines = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Exec"))
            keys.exec = value;
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            keys.enabled = false;
        else if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            keys.enabled = false;
    }
    return keys;
}

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real;
}

bool startsPath(const EntryKeys& keys, const QString& path)
{
    const QString program = LoginItemsXdg::programOfExec(keys.exec);
    return !program.isEmpty() && QFileInfo(program).isAbsolute() && canonical(program) == canonical(path);
}

QStringList entriesIn(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files))
        files << dir.filePath(name);
    return files;
}

// The installed entry, or a minimal one when the resources hold none.
QString entryTemplate()
{
    const QString path = Bundle::pathForResource(QStringLiteral("nuvarel"), QStringLiteral("desktop"));
    QFile in(path);
    if (!path.isEmpty() && in.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString::fromUtf8(in.readAll());
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Nuvarel\nExec=nuvarel\nIcon=nuvarel\nTerminal=false\n");
}

}  // namespace

LoginItemsXdg::LoginItemsXdg()
    : LoginItemsXdg(QDir::homePath() + QStringLiteral("/.config/autostart"))
{
}

LoginItemsXdg::LoginItemsXdg(const QString& autostartFolder)
    : m_folder(autostartFolder)
{
}

QString LoginItemsXdg::programOfExec(const QString& exec)
{
    const QString text = exec.trimmed();
    if (text.isEmpty())
        return {};
    if (!text.startsWith(QLatin1Char('"')))
        return text.section(QLatin1Char(' '), 0, 0);
    QString program;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            program += text.at(++i);
            continue;
        }
        if (c == QLatin1Char('"'))
            return program;
        program += c;
    }
    return {};  // no closing quote
}

QString LoginItemsXdg::execForPath(const QString& path)
{
    static const QString plain = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+");
    bool needsQuotes = path.isEmpty();
    for (const QChar c : path)
        needsQuotes = needsQuotes || !plain.contains(c);
    if (!needsQuotes)
        return path;
    // Inside quotes the Exec rules escape " ` $ and \ with a backslash.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

bool LoginItemsXdg::contains(const QString& path) const
{
    if (path.isEmpty())
        return false;
    for (const QString& file : entriesIn(m_folder)) {
        const EntryKeys keys = readEntry(file);
        if (keys.enabled && startsPath(keys, path))
            return true;
    }
    return false;
}

bool LoginItemsXdg::add(const QString& path, bool)
{
    if (path.isEmpty())
        return false;
    if (!QDir().mkpath(m_folder)) {
        spdlog::warn("Unable to make the autostart folder {}", m_folder.toStdString());
        return false;
    }
    QStringList lines;
    bool inMainGroup = false;
    for (const QString& line : entryTemplate().split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('[')))
            inMainGroup = trimmed == QLatin1String("[Desktop Entry]");
        if (inMainGroup && (trimmed.startsWith(QLatin1String("Exec=")) || trimmed.startsWith(QLatin1String("TryExec="))
                            || trimmed.startsWith(QLatin1String("Hidden=")) || trimmed.startsWith(QLatin1String("X-GNOME-Autostart-enabled="))))
            continue;
        lines << line;
        if (trimmed == QLatin1String("[Desktop Entry]")) {
            lines << QStringLiteral("Exec=") + execForPath(path);
            lines << QStringLiteral("X-GNOME-Autostart-enabled=true");
        }
    }
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    QSaveFile out(QDir(m_folder).filePath(QString::fromLatin1(kEntryName)));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        spdlog::warn("Unable to add {} to open at login: {}", path.toStdString(), out.errorString().toStdString());
        return false;
    }
    out.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!out.commit()) {
        spdlog::warn("Unable to add {} to open at login: {}", path.toStdString(), out.errorString().toStdString());
        return false;
    }
    return true;
}

bool LoginItemsXdg::remove(const QString& path)
{
    if (path.isEmpty())
        return true;
    bool allRemoved = true;
    for (const QString& file : entriesIn(m_folder)) {
        if (!startsPath(readEntry(file), path))
            continue;
        if (::unlink(QFile::encodeName(file).constData()) != 0) {
            const int error = errno;
            spdlog::warn("Unable to remove {} from open at login ({})",
                         QUrl::fromLocalFile(file).toString().toStdString(), error);
            allRemoved = false;
        }
    }
    return allRemoved;
}
