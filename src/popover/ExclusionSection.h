#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class ExcludedAppRow;
class QLabel;
class QToolButton;
class QVBoxLayout;
class RunningAppsManager;

// The popover's list of applications that are never quit, with add (file chooser) and
// remove-selected buttons. The selection belongs to the popover and is reached through a
// two-way binding.
class ExclusionSection : public QWidget {
    Q_OBJECT
public:
    struct SelectionBinding {
        std::function<std::optional<QString>()> get;
        std::function<void(const std::optional<QString>&)> set;
    };
    // Shows the chooser and returns the chosen paths, in the chooser's order; empty when
    // cancelled.
    using Chooser = std::function<QStringList(QWidget* parent)>;

    ExclusionSection(RunningAppsManager& manager, SelectionBinding selection,
                     QWidget* parent = nullptr);

    void addExclusion();
    void removeSelectedExclusion();

    // Replaces the file chooser (tests feed chosen paths through this).
    void setChooser(Chooser chooser);
    // The application chooser: .desktop files only, several at once, starting in the
    // applications folder.
    static QStringList chooseApplications(QWidget* parent);

    // Rebuilds the rows from the engine's exclusions and the current selection.
    void render();

    QToolButton* addButton() const { return m_add; }
    QToolButton* removeButton() const { return m_remove; }
    QLabel* emptyLabel() const { return m_empty; }
    QList<ExcludedAppRow*> rows() const;

private:
    void checkSelection();

    RunningAppsManager* m_manager;
    SelectionBinding m_selection;
    Chooser m_chooser;
    QToolButton* m_add;
    QToolButton* m_remove;
    QLabel* m_empty;
    QWidget* m_rowsBox;
    QVBoxLayout* m_rowsLayout;
};
