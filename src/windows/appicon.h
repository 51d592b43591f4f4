#pragma once

#include <QIcon>

// The application's own icon, for the title bars and task switchers of its windows.
QIcon appIcon();
