#include "ApplicationChooser.h"

#include "AppIcon.h"

#include "engine/Workspace.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

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

ApplicationChooser::ApplicationChooser(const Workspace& workspace, QWidget* parent)
    : QDialog(parent)
    , m_search(new QLineEdit(this))
    , m_list(new QListWidget(this)) {
    setWindowTitle(kTitle);
    resize(420, 480);
    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(kMessage, this);
    message->setWordWrap(true);
    layout->addWidget(message);
    m_search->setPlaceholderText(QStringLiteral("Search"));
    m_search->setClearButtonEnabled(true);
    layout->addWidget(m_search);
    m_list->setSelectionMode(QAbstractItemView::MultiSelection);
    m_list->setIconSize(QSize(24, 24));
    layout->addWidget(m_list, 1);

    QSet<QString> running, own;
    for (const RunningApplication& app : workspace.runningApplications())
        if (const std::optional<QString> path = app.entryPath())
            (app.applicationId() == workspace.ownApplicationId() ? own : running).insert(*path);
    QList<InstalledApplication> apps = workspace.installedApplications();
    // Idlewatch itself is never quit: nothing to exclude.
    apps.removeIf([&own](const InstalledApplication& app) { return own.contains(app.path); });
    std::stable_sort(apps.begin(), apps.end(), [&running](const auto& a, const auto& b) {
        const bool ra = running.contains(a.path), rb = running.contains(b.path);
        return ra != rb ? ra : a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    for (const InstalledApplication& app : apps) {
        auto* item = new QListWidgetItem(iconForApplication(app.iconName), app.name, m_list);
        item->setData(Qt::UserRole, app.path);
        item->setToolTip(app.path);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* other = buttons->addButton(QStringLiteral("Other…"), QDialogButtonBox::ActionRole);
    m_accept = buttons->addButton(QStringLiteral("Exclude"), QDialogButtonBox::AcceptRole);
    m_accept->setEnabled(false);
    layout->addWidget(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &ApplicationChooser::filter);
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        m_chosen.clear();
        for (int i = 0; i < m_list->count(); ++i)
            if (m_list->item(i)->isSelected())
                m_chosen << m_list->item(i)->data(Qt::UserRole).toString();
        m_accept->setEnabled(!m_chosen.isEmpty());
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
}

void ApplicationChooser::filter(const QString& text) {
    for (int i = 0; i < m_list->count(); ++i)
        m_list->item(i)->setHidden(!m_list->item(i)->text().contains(text, Qt::CaseInsensitive));
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
