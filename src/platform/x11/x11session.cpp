#include "platform/x11/x11session.h"

#include "platform/x11/x11displayprobe.h"

namespace {

// Qt takes its options with one dash or two.
QString valueAfter(const QStringList& arguments, const QString& option)
{
    qsizetype at = arguments.indexOf(option);
    if (at < 0)
        at = arguments.indexOf(QLatin1Char('-') + option);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : QString();
}

}  // namespace

QString X11Session::platformName(const QStringList& arguments, const QString& qpaPlatform)
{
    QString name = valueAfter(arguments, QStringLiteral("-platform"));
    if (name.isEmpty())
        name = qpaPlatform;
    name = name.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 0, 0).trimmed();
    return name.isEmpty() ? QStringLiteral("xcb") : name;
}

QString X11Session::displayName(const QStringList& arguments)
{
    return valueAfter(arguments, QStringLiteral("-display"));
}

bool X11Session::available(const QStringList& arguments, const QString& qpaPlatform)
{
    if (platformName(arguments, qpaPlatform) != QLatin1String("xcb"))
        return true;
    return x11DisplayOpens(displayName(arguments));
}
