#pragma once

#include <QColor>

class UserDefaults;

// The accent colour the popover, the exclusion rows and the settings window draw: the
// colour of the stored "accentColor" name, read afresh at every call so a redraw follows
// the latest choice.
QColor accentColorInUse(const UserDefaults& defaults);
