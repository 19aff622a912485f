#pragma once

#include "engine/ExcludedApp.h"

#include <QAbstractButton>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class ElidedLabel;
class QLabel;
class QVBoxLayout;
class RunningAppsManager;

// One exclusion: the application's icon and name, tinted with the accent while selected.
// The icon and the tint follow the store live.
class ExcludedAppRow : public QAbstractButton {
    Q_OBJECT
public:
    ExcludedAppRow(ExcludedApp app, RunningAppsManager& manager, QWidget* parent = nullptr);

    const ExcludedApp& app() const { return m_app; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    // "rowIconSize" clamped to its range, less 8, at least 16.
    static int iconEdge(qint64 rowIconSize);
    int currentIconEdge() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    ExcludedApp m_app;
    RunningAppsManager* m_manager;
    bool m_selected = false;
    QLabel* m_icon;
    ElidedLabel* m_name;
};

// The permanent exclusions, shared by the popover and the settings pane: add through the
// application chooser, select a row, remove the selected one. The selection belongs to the
// list: it starts empty, follows each addition, and when the selected record goes (from
// here or elsewhere) while the list is shown it moves to the first remaining one.
class ExclusionList : public QWidget {
    Q_OBJECT
public:
    // The popover's compact section with symbol buttons, or the settings pane's body with
    // labelled buttons and a count.
    enum class Look { popover, pane };
    // Shows the chooser; the chosen paths in the chooser's order, none when cancelled.
    using Chooser = std::function<QStringList(QWidget* parent)>;

    ExclusionList(RunningAppsManager& manager, Look look, QWidget* parent = nullptr);

    void setSelectedID(const std::optional<QString>& id);
    // The "N active" count of the pane look; none in the popover.
    QLabel* countLabel() const { return m_count; }

    void addExclusion();
    void removeSelectedExclusion();

    // Replaces the application chooser (tests).
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    QAbstractButton* addButton() const { return m_add; }
    QAbstractButton* removeButton() const { return m_remove; }
    QList<ExcludedAppRow*> rows() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool selectionIsListed() const;
    void followList();
    void render();

    RunningAppsManager* m_manager;
    Chooser m_chooser;
    std::optional<QString> m_selected;
    QAbstractButton* m_add = nullptr;
    QAbstractButton* m_remove = nullptr;
    QLabel* m_empty = nullptr;
    QLabel* m_count = nullptr;
    QWidget* m_rowsBox;
    QVBoxLayout* m_rowsLayout;
};
