#include "platform/nmloginitems.h"

#include "platform/loginitems.h"

bool NMLoginItems::pathInLoginItems(const QString& path)
{
    return !path.isEmpty() && LoginItems::current().contains(path);
}

bool NMLoginItems::addPathToLoginItems(const QString& path, bool hide)
{
    return !path.isEmpty() && LoginItems::current().add(path, hide);
}

bool NMLoginItems::removePathFromLoginItems(const QString& path)
{
    return path.isEmpty() || LoginItems::current().remove(path);
}
