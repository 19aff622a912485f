#pragma once

#include "SettingsPane.h"

#include <QColor>
#include <QHash>
#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QScrollArea;
class QAbstractButton;
class RunningAppsManager;
class SymbolView;
class UserDefaults;

// The root view of the settings window: a fixed sidebar listing the panes and a scrolling
// detail column with the selected pane's header and body. Every pane is built once and
// kept, so a pane shows what it showed when it is selected again.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(RunningAppsManager& manager, SettingsPane initialPane, QWidget* parent = nullptr);
    ~SettingsView() override;

    RunningAppsManager& manager() const { return *m_manager; }
    // The store the panes read and write: the engine's.
    UserDefaults& store() const;

    SettingsPane selectedPane() const { return m_selectedPane; }
    void setSelectedPane(SettingsPane pane);

    // The bundle identifier of the exclusion selected in the exclusions pane.
    std::optional<QString> selectedExclusionID() const { return m_selectedExclusionID; }
    void setSelectedExclusionID(std::optional<QString> id);

    QString paneSubtitle() const { return SettingsPanes::subtitle(m_selectedPane); }
    QColor accentColor() const;

    // Parts of the layout, for tests and screenshots.
    QAbstractButton* sidebarButton(SettingsPane pane) const { return m_sidebarButtons.value(pane); }
    QWidget* paneBody(SettingsPane pane) const { return m_paneBodies.value(pane); }
    QLabel* paneTitleLabel() const { return m_paneTitle; }
    QLabel* paneSubtitleLabel() const { return m_paneSubtitle; }
    QLabel* versionLabel() const { return m_versionLabel; }
    QScrollArea* detailScrollArea() const { return m_scrollArea; }
    QWidget* sidebar() const { return m_sidebar; }

    // Layout constants.
    static constexpr int kSidebarWidth = 206;
    static constexpr int kDetailPadding = 28;
    static constexpr int kDetailSpacing = 18;
    static constexpr int kPaneSpacing = 14;

signals:
    void selectedPaneChanged(SettingsPane pane);
    void selectedExclusionIDChanged();

private:
    QWidget* buildSidebar();
    QWidget* buildPaneHeader();
    QWidget* buildPaneBody(SettingsPane pane);
    void showSelectedPane();
    // Repaints the parts that draw the selection or the accent themselves.
    void repaintAccentParts();

    RunningAppsManager* m_manager;
    SettingsPane m_selectedPane;
    std::optional<QString> m_selectedExclusionID;

    QWidget* m_sidebar = nullptr;
    QHash<SettingsPane, QAbstractButton*> m_sidebarButtons;
    QHash<SettingsPane, QWidget*> m_paneBodies;
    QWidget* m_badge = nullptr;
    QLabel* m_paneTitle = nullptr;
    QLabel* m_paneSubtitle = nullptr;
    QLabel* m_versionLabel = nullptr;
    QScrollArea* m_scrollArea = nullptr;
};
