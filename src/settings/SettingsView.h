#pragma once

#include "SettingsPane.h"

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QStackedWidget;
class RunningAppsManager;
namespace LaunchAtLogin {
class Observable;
}

// The root view of the settings window: a fixed sidebar of checkable rows, one per pane,
// and the selected pane's header above a stack of the panes, each scrolling on its own. Every pane
// is built once and kept, so it shows what it showed when it is selected again.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin,
                 SettingsPane initialPane, QWidget* parent = nullptr);

    RunningAppsManager& manager() const { return m_manager; }
    SettingsPane selectedPane() const;
    void setSelectedPane(SettingsPane pane);

    // Parts of the layout, for tests, screenshots and the test dump.
    QAbstractButton* sidebarButton(SettingsPane pane) const;
    QWidget* paneBody(SettingsPane pane) const;
    QLabel* paneTitleLabel() const { return m_paneTitle; }

private:
    QWidget* buildSidebar();
    QWidget* buildPaneHeader();
    void showSelectedPane();

    RunningAppsManager& m_manager;
    QWidget* m_sidebar = nullptr;
    QButtonGroup* m_sidebarRows = nullptr;
    QStackedWidget* m_panes = nullptr;
    QWidget* m_badge = nullptr;
    QLabel* m_paneTitle = nullptr;
    QLabel* m_paneSubtitle = nullptr;
};
