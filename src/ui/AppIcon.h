#pragma once

#include <QIcon>
#include <QString>

// The icon for the name a workspace gives an application (Workspace::iconNameForEntry):
// an absolute image path, or an icon-theme name, also when written with an extension.
// Anything unusable, the empty name included, gives the theme's generic application icon,
// or one drawn here when there is no theme. Never null.
QIcon iconForApplication(const QString& iconName);
