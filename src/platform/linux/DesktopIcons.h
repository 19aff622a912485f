#pragma once

#include <QIcon>
#include <QString>

// The icon for a file path: a .desktop entry's Icon through the icon theme (or its
// absolute path); for anything else, the theme's generic application icon. Never null.
QIcon iconForFile(const QString& path);
