#include "Accent.h"

#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"

QColor accentColorInUse(const UserDefaults& defaults) {
    const QString name = defaults.text(QString::fromLatin1(Keys::accentColor.name))
                             .value_or(QString::fromUtf8(Keys::accentColor.defaultValue));
    return Preferences::accentColor(name);
}
