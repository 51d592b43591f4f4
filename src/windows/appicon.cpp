#include "windows/appicon.h"

// Qt resources inside a static library are only linked in when something names them.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

QIcon appIcon()
{
    initAppResources();
    return QIcon(QStringLiteral(":/nuvarel.svg"));
}
