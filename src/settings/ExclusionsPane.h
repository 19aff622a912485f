#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;
class SettingsView;

// The permanent exclusions: add through the application chooser, select a row, remove the
// selected one. A view over the engine's list; the selection is the settings view's.
class ExclusionsPane : public QWidget {
    Q_OBJECT
public:
    // Runs the chooser; the chosen .desktop paths in the chooser's order, none when
    // cancelled. By default the popover's application chooser.
    using Chooser = std::function<QStringList(QWidget* parent)>;

    explicit ExclusionsPane(SettingsView& view, QWidget* parent = nullptr);

    void addExclusion();
    void removeSelectedExclusion();

    // Replaces the chooser (tests); an empty function restores the file dialog.
    static void setChooser(Chooser chooser);

    QPushButton* addButton() const { return m_addButton; }
    QPushButton* removeButton() const { return m_removeButton; }
    QLabel* countLabel() const { return m_countLabel; }
    QLabel* emptyLabel() const { return m_emptyLabel; }
    // The rows shown, in list order.
    QList<QWidget*> rows() const { return m_rows; }

private:
    void rebuildRows();
    void refreshSelection();

    SettingsView& m_view;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QLabel* m_countLabel = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_listLayout = nullptr;
    QList<QWidget*> m_rows;
};
