#include "ApplicationChooser.h"

#include "AppIcon.h"

#include "engine/Workspace.h"

#include <QAbstractListModel>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

Q_LOGGING_CATEGORY(lcChooser, "com.Idlewatch.Idlewatch.ApplicationChooser", QtInfoMsg)

namespace {

const QString kTitle = QStringLiteral("Choose App to Exclude");
const QString kMessage = QStringLiteral("Choose apps Idlewatch should always leave open.");

// The file dialog: .desktop files only, several at once, starting in `folder`.
QStringList chooseFiles(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent, kTitle, folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("Applications (*.desktop)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The message needs a place in the dialog, which the desktop's own dialogs lack.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Exclude"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(kMessage, &dialog);
        label->setWordWrap(true);
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

} // namespace

// The applications, each with its icon looked up the first time a view draws its row:
// the view asks only for the rows on screen (one size for every row, see below).
class ApplicationChooser::Model : public QAbstractListModel {
public:
    Model(QList<InstalledApplication> apps, QObject* parent)
        : QAbstractListModel(parent)
        , m_apps(std::move(apps)) {}

    const InstalledApplication& app(int row) const { return m_apps.at(row); }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_apps.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const InstalledApplication& app = m_apps.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return app.name;
        case Qt::ToolTipRole:
            return app.path;
        case Qt::DecorationRole: {
            auto it = m_icons.find(app.iconName);
            if (it == m_icons.end())
                it = m_icons.insert(app.iconName, iconForApplication(app.iconName));
            return *it;
        }
        default:
            return {};
        }
    }
    // Whether the search text finds the application.
    bool matches(int row, const QString& text) const {
        const InstalledApplication& app = m_apps.at(row);
        return app.name.contains(text, Qt::CaseInsensitive) ||
               std::any_of(app.keywords.cbegin(), app.keywords.cend(), [&text](const QString& k) {
                   return k.contains(text, Qt::CaseInsensitive);
               });
    }

private:
    QList<InstalledApplication> m_apps;
    mutable QHash<QString, QIcon> m_icons; // by icon name: many entries share one
};

ApplicationChooser::ApplicationChooser(const Workspace& workspace, QWidget* parent)
    : QDialog(parent)
    , m_search(new QLineEdit(this))
    , m_list(new QListView(this)) {
    QElapsedTimer timer;
    timer.start();
    setWindowTitle(kTitle);
    resize(420, 480);
    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(kMessage, this);
    message->setWordWrap(true);
    layout->addWidget(message);
    m_search->setPlaceholderText(QStringLiteral("Search"));
    m_search->setAccessibleName(QStringLiteral("Search applications"));
    m_search->setClearButtonEnabled(true);
    m_search->installEventFilter(this);
    layout->addWidget(m_search);

    QSet<QString> running;
    for (const RunningApplication& app : workspace.runningApplications())
        if (const std::optional<QString> path = app.entryPath())
            running.insert(*path);
    QList<InstalledApplication> apps = workspace.installedApplications();
    // Idlewatch itself is never quit: nothing to exclude.
    const std::optional<QString> own = workspace.ownApplicationId();
    apps.removeIf([&own](const InstalledApplication& app) { return own && app.id == *own; });
    std::stable_sort(apps.begin(), apps.end(), [&running](const auto& a, const auto& b) {
        const bool ra = running.contains(a.path), rb = running.contains(b.path);
        return ra != rb ? ra : a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    m_model = new Model(std::move(apps), this);
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::MultiSelection);
    m_list->setIconSize(QSize(24, 24));
    // Rows of one height: the view then sizes one row, not every row and its icon.
    m_list->setUniformItemSizes(true);
    m_list->setAccessibleName(QStringLiteral("Applications"));
    m_list->installEventFilter(this);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* other = buttons->addButton(QStringLiteral("Other…"), QDialogButtonBox::ActionRole);
    m_accept = buttons->addButton(QStringLiteral("Exclude"), QDialogButtonBox::AcceptRole);
    m_accept->setEnabled(false);
    layout->addWidget(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &ApplicationChooser::filter);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ApplicationChooser::takeSelection);
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        // The second click of the two may have toggled it off again.
        m_list->selectionModel()->select(index, QItemSelectionModel::Select);
        accept();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(other, &QPushButton::clicked, this, [this, &workspace] {
        const QStringList files = chooseFiles(this, workspace.applicationsFolder());
        if (files.isEmpty())
            return;
        m_chosen = files;
        accept();
    });
    qCDebug(lcChooser) << "Listed" << m_model->rowCount() << "applications in" << timer.elapsed()
                       << "ms";
}

void ApplicationChooser::filter(const QString& text) {
    QItemSelectionModel* selection = m_list->selectionModel();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const bool hidden = !m_model->matches(row, text.trimmed());
        m_list->setRowHidden(row, hidden);
        // What the search hides is no longer chosen.
        if (hidden && selection->isRowSelected(row))
            selection->select(m_model->index(row), QItemSelectionModel::Deselect);
    }
}

void ApplicationChooser::takeSelection() {
    m_chosen.clear();
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (m_list->selectionModel()->isRowSelected(row))
            m_chosen << m_model->app(row).path;
    m_accept->setEnabled(!m_chosen.isEmpty());
}

bool ApplicationChooser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == m_search && key == Qt::Key_Down) {
            // From the search to the list, as in any launcher.
            m_list->setFocus();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_list && m_list->currentIndex().isValid() && m_chosen.isEmpty())
                m_list->selectionModel()->select(m_list->currentIndex(),
                                                 QItemSelectionModel::Select);
            if (!m_chosen.isEmpty())
                accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QStringList ApplicationChooser::choose(const Workspace& workspace, QWidget* parent) {
    // A popup would close under the dialog anyway; close it first so the dialog owns the
    // screen and is not parented to a hidden window.
    if (parent && parent->windowFlags().testFlag(Qt::Popup)) {
        parent->close();
        parent = nullptr;
    }
    ApplicationChooser chooser(workspace, parent);
    chooser.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    chooser.show();
    chooser.raise();
    chooser.activateWindow();
    return chooser.exec() == QDialog::Accepted ? chooser.chosenPaths() : QStringList();
}
