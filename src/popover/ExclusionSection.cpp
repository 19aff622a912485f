#include "ExclusionSection.h"

#include "ExcludedAppRow.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const char kChooserTitle[] = "Choose App to Exclude";
const char kChooserMessage[] = "Choose apps Idlewatch should always leave open.";

QToolButton* makeHeaderButton(QWidget* parent, const QString& symbol, const QString& tooltip) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(14, 14));
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(Symbols::icon(symbol, parent->palette().color(QPalette::WindowText)));
    return button;
}
} // namespace

ExclusionSection::ExclusionSection(RunningAppsManager& manager, SelectionBinding selection,
                                   QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_selection(std::move(selection))
    , m_chooser(&ExclusionSection::chooseApplications)
    , m_add(makeHeaderButton(this, QStringLiteral("plus"),
                             QStringLiteral("Add an app to always exclude")))
    , m_remove(makeHeaderButton(this, QStringLiteral("minus"),
                                QStringLiteral("Remove selected exclusion")))
    , m_empty(new QLabel(QStringLiteral("No apps excluded"), this))
    , m_rowsBox(new QWidget(this))
    , m_rowsLayout(new QVBoxLayout(m_rowsBox)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 2, 10, 2);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Exclusions"), this);
    title->setFont(Style::headline(font()));
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_add);
    header->addWidget(m_remove);
    layout->addLayout(header);

    m_empty->setFont(Style::caption(font()));
    m_empty->setContentsMargins(6, 4, 6, 4);
    m_empty->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette secondary = m_empty->palette();
    secondary.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    m_empty->setPalette(secondary);
    layout->addWidget(m_empty);

    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(2);
    layout->addWidget(m_rowsBox);

    connect(m_add, &QToolButton::clicked, this, &ExclusionSection::addExclusion);
    connect(m_remove, &QToolButton::clicked, this, &ExclusionSection::removeSelectedExclusion);
    // Only changes of the list re-check the selection: a freshly shown section starts with
    // nothing selected.
    connect(m_manager, &RunningAppsManager::excludedAppsChanged, this,
            &ExclusionSection::checkSelection);
    render();
}

void ExclusionSection::setChooser(Chooser chooser) {
    m_chooser = std::move(chooser);
}

QList<ExcludedAppRow*> ExclusionSection::rows() const {
    QList<ExcludedAppRow*> out;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        if (auto* row = qobject_cast<ExcludedAppRow*>(m_rowsLayout->itemAt(i)->widget()))
            out << row;
    }
    return out;
}

void ExclusionSection::render() {
    const std::optional<QString> selected = m_selection.get();
    const QList<ExcludedApp> apps = m_manager->activeExcludedApps();
    m_remove->setEnabled(selected.has_value());
    m_empty->setVisible(apps.isEmpty());
    m_rowsBox->setVisible(!apps.isEmpty());

    const QList<ExcludedAppRow*> current = rows();
    const bool sameRecords = current.size() == apps.size() &&
                             std::equal(current.cbegin(), current.cend(), apps.cbegin(),
                                        [](const ExcludedAppRow* row, const ExcludedApp& app) {
                                            return row->app() == app;
                                        });
    if (sameRecords) {
        for (ExcludedAppRow* row : current)
            row->setSelected(selected && *selected == row->app().bundleIdentifier);
        return;
    }

    // A row may be the sender of the click that led here: retire old rows, never delete
    // them in place.
    while (QLayoutItem* item = m_rowsLayout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (const ExcludedApp& app : apps) {
        const QString id = app.bundleIdentifier;
        auto* row = new ExcludedAppRow(
            app, selected && *selected == id, [this, id] { m_selection.set(id); },
            m_manager->defaults(), m_rowsBox);
        m_rowsLayout->addWidget(row);
    }
}

void ExclusionSection::checkSelection() {
    const QList<ExcludedApp>& apps = m_manager->excludedApps();
    const std::optional<QString> selected = m_selection.get();
    if (selected && std::any_of(apps.cbegin(), apps.cend(), [&](const ExcludedApp& app) {
            return app.bundleIdentifier == *selected;
        }))
        return;
    m_selection.set(apps.isEmpty() ? std::nullopt
                                   : std::optional<QString>(apps.first().bundleIdentifier));
}

void ExclusionSection::addExclusion() {
    const QStringList paths = m_chooser ? m_chooser(window()) : QStringList();
    for (const QString& path : paths) {
        // Anything that is not an application entry is skipped without a word.
        if (const std::optional<ExcludedApp> record = m_manager->addExcludedApp(path))
            m_selection.set(record->bundleIdentifier);
    }
}

void ExclusionSection::removeSelectedExclusion() {
    const std::optional<QString> selected = m_selection.get();
    if (!selected)
        return;
    m_manager->removeExcludedApp(*selected);
    const QList<ExcludedApp>& apps = m_manager->excludedApps();
    m_selection.set(apps.isEmpty() ? std::nullopt
                                   : std::optional<QString>(apps.first().bundleIdentifier));
}

QStringList ExclusionSection::chooseApplications(QWidget* parent) {
    // A popup would close under the dialog anyway; close it first so the dialog owns the
    // screen and is not parented to a hidden window.
    if (parent && parent->windowFlags().testFlag(Qt::Popup))
        parent->close();
    QFileDialog dialog(nullptr, QString::fromUtf8(kChooserTitle),
                       DesktopEntryIndex::applicationsFolder());
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("Applications (*.desktop)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The message needs a place in the dialog, which the desktop's own dialogs lack.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Exclude"));
    dialog.setToolTip(QString::fromUtf8(kChooserMessage));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* message = new QLabel(QString::fromUtf8(kChooserMessage), &dialog);
        message->setWordWrap(true);
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
