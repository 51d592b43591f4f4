#pragma once

#include <QString>
#include <QStringList>

// Whether this start can reach the X11 session the app needs. Qt's X11 platform plugin aborts
// the process when it finds no display; asking first lets the program say why and exit.
class X11Session {
public:
    // The platform Qt will use for these arguments and this value of QT_QPA_PLATFORM (Qt's own
    // variable): "-platform NAME" wins, then the variable, else the X11 plugin ("xcb").
    // Only the first name of a ";"-separated list counts, without its ":options".
    static QString platformName(const QStringList& arguments, const QString& qpaPlatform);
    // The display named by "-display NAME", else empty (which means $DISPLAY).
    static QString displayName(const QStringList& arguments);

    // True when the platform is not X11, or when the X display opens.
    static bool available(const QStringList& arguments, const QString& qpaPlatform);

    // The one line the program prints when there is none.
    static constexpr const char* kNoDisplayMessage = "no X display: Nuvarel needs an X11 session";
};
