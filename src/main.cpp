#include "store/clogger.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    CLogger::config();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nuvarel"));
    QApplication::setOrganizationName(QStringLiteral("Nuvarel"));
    // A tray application: closing a window never ends it.
    app.setQuitOnLastWindowClosed(false);
    return app.exec();
}
