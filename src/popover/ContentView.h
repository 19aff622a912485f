#pragma once

#include "engine/RunningAppsManager.h"

#include <QHash>
#include <QWidget>

#include <optional>

class AppRow;
class ClosedToday;
class ClosedTodaySection;
class ExclusionList;
class QAbstractButton;
class QFrame;
class QLabel;
class QScrollArea;
class QVBoxLayout;

// The popover's root: the tracked applications, sorted, one row each (or an empty-state
// message), optionally the exclusions, then "Settings" and "Quit Idlewatch". It re-renders
// whenever the engine publishes or a preference changes and keeps no copy of engine state:
// rows are only reused widgets for handles still in the engine's map.
class ContentView : public QWidget {
    Q_OBJECT
public:
    enum class HoveredButton { quit, settings };

    explicit ContentView(RunningAppsManager& manager, QWidget* parent = nullptr);
    ~ContentView() override;

    RunningAppsManager& manager() const { return *m_manager; }

    // The entries of the engine's runningApps in the order of "sortMode".
    QList<RunningApplication> sortedRunningApps() const;
    qint64 remainingSeconds(const RunningApplication& app) const;
    // "popoverWidth" clamped to its range; the view is 10 wider for its outer padding.
    int contentWidth() const;
    QColor accentColor() const;

    std::optional<HoveredButton> hoveredButton() const { return m_hoveredButton; }

    // Parts as currently shown, for tests.
    QList<AppRow*> rows() const;
    QWidget* emptyState() const { return m_emptyState; }
    QLabel* emptyStateText() const { return m_emptyText; }
    ExclusionList* exclusionList() const { return m_exclusions; }
    QFrame* divider() const { return m_divider; }
    // "Paused" with its Resume button, shown while automatic quitting is off.
    QWidget* pausedBanner() const { return m_pausedBanner; }
    // What the desktop needs set up first, atop the list; hidden when empty.
    void setSetupNotice(const QString& text);
    QLabel* setupNotice() const { return m_setupNotice; }
    QAbstractButton* resumeButton() const { return m_resume; }
    // The "Closed today" section, above the exclusions; none until a list is given.
    void setClosedToday(ClosedToday& list);
    ClosedTodaySection* closedTodaySection() const { return m_closedToday; }
    // "Freed 2.3 GB today", shown once something was freed today.
    QLabel* freedText() const { return m_freed; }
    QWidget* settingsItem() const;
    QWidget* quitItem() const;
    // One line per row: name, then the window title and the countdown where they are shown,
    // tab-separated.
    QStringList rowTexts() const;

    // While not live (its popover is closed) changes only mark the view stale, and it is
    // rendered when it becomes live again: nothing is redrawn that nobody sees.
    void setLive(bool live);
    // The tallest the view may grow (the screen's available height); the list scrolls
    // beyond it.
    void setHeightLimit(int pixels);

public slots:
    void render();

protected:
    void showEvent(QShowEvent* event) override;

signals:
    void openSettingsRequested();
    void quitRequested();
    // After each render; the host resizes its window.
    void rendered();

private:
    class FooterItem;
    void setHovered(std::optional<HoveredButton> button);
    void renderIfLive();
    void orderTabStops();

    RunningAppsManager* m_manager;
    std::optional<HoveredButton> m_hoveredButton;
    bool m_live = true;
    bool m_stale = false;

    int m_heightLimit = QWIDGETSIZE_MAX;

    QWidget* m_root;
    QWidget* m_pausedBanner;
    QAbstractButton* m_resume;
    QLabel* m_setupNotice;
    QScrollArea* m_listScroll;
    QWidget* m_listBlock;
    QVBoxLayout* m_listLayout;
    QWidget* m_emptyState;
    QLabel* m_emptyIcon;
    QLabel* m_emptyText;
    QWidget* m_dividerBox;
    QFrame* m_divider;
    ExclusionList* m_exclusions;
    ClosedTodaySection* m_closedToday = nullptr;
    QLabel* m_freed;
    FooterItem* m_settings;
    FooterItem* m_quit;
    QHash<RunningApplication, AppRow*> m_rows;
};
