#include "platform/fake/loginitemsfake.h"

bool LoginItemsFake::add(const QString& path, bool hide)
{
    hides << hide;
    if (failAdd)
        return false;
    paths << path;
    return true;
}

bool LoginItemsFake::remove(const QString& path)
{
    if (failRemove)
        return !paths.contains(path);
    paths.removeAll(path);
    return true;
}
