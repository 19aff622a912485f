#pragma once

#include <QList>
#include <QString>

// The panes of the settings window, in sidebar order.
enum class SettingsPane {
    general,
    presets,
    behavior,
    appearance,
    trayIcon,
    exclusions,
    appTimeouts,
    advanced,
    support
};

namespace SettingsPanes {

// Every pane in sidebar order.
const QList<SettingsPane>& all();

// The identifier of a pane ("general", "trayIcon" ...); the identity of its sidebar row.
QString rawValue(SettingsPane pane);
QString title(SettingsPane pane);
// A symbol name (see ui/Symbols.h).
QString icon(SettingsPane pane);
QString subtitle(SettingsPane pane);

} // namespace SettingsPanes
