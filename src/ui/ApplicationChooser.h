#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListView;
class QPushButton;
class Workspace;

// What "+" offers: the installed applications, the running ones first and then by name,
// narrowed by a search field (names, generic names, keywords, programs), several chosen at
// once. Only what the search shows can be chosen: Return or "Exclude" takes the visible
// selection, a double-click the application under the pointer too. "Other…" falls back to
// the file dialog for an entry anywhere on disk. Icons are looked up as rows come into
// view, so a thousand entries open as fast as ten.
class ApplicationChooser : public QDialog {
    Q_OBJECT
public:
    explicit ApplicationChooser(const Workspace& workspace, QWidget* parent = nullptr);

    // The entry locations chosen, in list order; those of the file dialog after "Other…".
    QStringList chosenPaths() const { return m_chosen; }

    // Runs the chooser modally: the chosen locations, none when cancelled.
    static QStringList choose(const Workspace& workspace, QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Model;
    void filter(const QString& text);
    // The selected rows, in list order: the search deselects what it hides.
    void takeSelection();

    Model* m_model;
    QLineEdit* m_search;
    QListView* m_list;
    QPushButton* m_accept;
    QStringList m_chosen;
};
