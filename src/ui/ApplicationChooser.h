#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;
class Workspace;

// What "+" offers: the installed applications, the running ones first and then by name,
// narrowed by a search field, several chosen at once. "Other…" falls back to the file
// dialog for an entry anywhere on disk.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    explicit ApplicationChooser(const Workspace& workspace, QWidget* parent = nullptr);

    // The entry locations chosen, in list order; those of the file dialog after "Other…".
    QStringList chosenPaths() const { return m_chosen; }

    // Runs the chooser modally: the chosen locations, none when cancelled.
    static QStringList choose(const Workspace& workspace, QWidget* parent);

private:
    void filter(const QString& text);

    QLineEdit* m_search;
    QListWidget* m_list;
    QPushButton* m_accept;
    QStringList m_chosen;
};
