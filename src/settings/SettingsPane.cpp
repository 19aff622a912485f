#include "SettingsPane.h"

namespace SettingsPanes {

namespace {
struct PaneInfo {
    SettingsPane pane;
    const char* rawValue;
    const char* title;
    const char* icon;
    const char* subtitle;
};

constexpr PaneInfo kPanes[] = {
    {SettingsPane::general, "general", "General", "switch.2",
     "Startup, enablement, and the main idle timer."},
    {SettingsPane::presets, "presets", "Presets", "slider.horizontal.below.sun.max",
     "One-click bundles of timer, scanning, and popover settings."},
    {SettingsPane::behavior, "behavior", "Behavior", "timer",
     "How Idlewatch scans, waits, and quits apps."},
    {SettingsPane::appearance, "appearance", "Appearance", "paintpalette",
     "Popover layout, countdowns, and visual emphasis."},
    {SettingsPane::trayIcon, "trayIcon", "Tray Icon", "tray.rectangle",
     "The tray icon and what the popover shows."},
    {SettingsPane::exclusions, "exclusions", "Exclusions", "hand.raised",
     "Apps that Idlewatch should always leave open."},
    {SettingsPane::appTimeouts, "appTimeouts", "Per-app timeouts", "hourglass",
     "Apps that wait longer, or shorter, than the idle timeout."},
    {SettingsPane::advanced, "advanced", "Advanced", "slider.horizontal.3",
     "Maintenance tools and local preference resets."},
    {SettingsPane::support, "support", "Support", "heart",
     "Version, links, and diagnostics for a bug report."},
};

const PaneInfo& info(SettingsPane pane) {
    for (const PaneInfo& entry : kPanes)
        if (entry.pane == pane)
            return entry;
    return kPanes[0];
}
} // namespace

const QList<SettingsPane>& all() {
    static const QList<SettingsPane> panes = [] {
        QList<SettingsPane> list;
        for (const PaneInfo& entry : kPanes)
            list << entry.pane;
        return list;
    }();
    return panes;
}

QString rawValue(SettingsPane pane) {
    return QString::fromLatin1(info(pane).rawValue);
}
QString title(SettingsPane pane) {
    return QString::fromLatin1(info(pane).title);
}
QString icon(SettingsPane pane) {
    return QString::fromLatin1(info(pane).icon);
}
QString subtitle(SettingsPane pane) {
    return QString::fromLatin1(info(pane).subtitle);
}

} // namespace SettingsPanes
