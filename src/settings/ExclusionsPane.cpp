#include "ExclusionsPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

#include "engine/RunningAppsManager.h"
#include "popover/ExcludedAppRow.h"
#include "popover/ExclusionSection.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

ExclusionsPane::Chooser& chooserOverride() {
    static ExclusionsPane::Chooser chooser;
    return chooser;
}

} // namespace

ExclusionsPane::ExclusionsPane(SettingsView& view, QWidget* parent)
    : QWidget(parent)
    , m_view(view) {
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 0, 0);

    auto* header = new QHBoxLayout;
    const QColor symbolColor = SettingsStyle::primaryTextColor(this);
    m_addButton = SettingsControls::makeButton(QStringLiteral("Add App"), content,
                                               Symbols::icon(QStringLiteral("plus"), symbolColor));
    m_removeButton = SettingsControls::makeButton(
        QStringLiteral("Remove"), content, Symbols::icon(QStringLiteral("minus"), symbolColor));
    m_countLabel = SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), true, content);
    header->addWidget(m_addButton, 0, Qt::AlignVCenter);
    header->addWidget(m_removeButton, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(m_countLabel, 0, Qt::AlignVCenter);
    rows->addLayout(header);

    m_emptyLabel = SettingsStyle::makeLabel(QStringLiteral("No excluded apps yet."),
                                            SettingsStyle::bodyFont(), true, content);
    m_emptyLabel->setContentsMargins(0, 12, 0, 12);
    rows->addWidget(m_emptyLabel);

    m_list = new QWidget(content);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(2);
    rows->addWidget(m_list);

    connect(m_addButton, &QPushButton::clicked, this, &ExclusionsPane::addExclusion);
    connect(m_removeButton, &QPushButton::clicked, this, &ExclusionsPane::removeSelectedExclusion);
    connect(&view.manager(), &RunningAppsManager::excludedAppsChanged, this,
            &ExclusionsPane::rebuildRows);
    connect(&view, &SettingsView::selectedExclusionIDChanged, this,
            &ExclusionsPane::refreshSelection);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Always leave these apps open"),
                                          QStringLiteral("hand.raised"), content, view.store(),
                                          this));
    rebuildRows();
}

void ExclusionsPane::setChooser(Chooser chooser) {
    chooserOverride() = std::move(chooser);
}

void ExclusionsPane::addExclusion() {
    const Chooser& chooser = chooserOverride();
    const QStringList chosen =
        chooser ? chooser(window()) : ExclusionSection::chooseApplications(window());
    for (const QString& path : chosen) {
        // Anything that is not an application entry is skipped without a word.
        if (const std::optional<ExcludedApp> app = m_view.manager().addExcludedApp(path))
            m_view.setSelectedExclusionID(app->bundleIdentifier);
    }
}

void ExclusionsPane::removeSelectedExclusion() {
    const std::optional<QString> selected = m_view.selectedExclusionID();
    if (!selected)
        return;
    RunningAppsManager& manager = m_view.manager();
    // Saves and registers running apps again even when the record already went elsewhere.
    manager.removeExcludedApp(*selected);
    const QList<ExcludedApp>& remaining = manager.excludedApps();
    m_view.setSelectedExclusionID(remaining.isEmpty()
                                      ? std::nullopt
                                      : std::optional<QString>(remaining.first().bundleIdentifier));
}

void ExclusionsPane::rebuildRows() {
    qDeleteAll(m_rows);
    m_rows.clear();
    const QList<ExcludedApp> apps = m_view.manager().activeExcludedApps();
    for (const ExcludedApp& app : apps) {
        const QString id = app.bundleIdentifier;
        auto* row = new ExcludedAppRow(
            app, m_view.selectedExclusionID() == id,
            [this, id] { m_view.setSelectedExclusionID(id); }, m_view.store(), m_list);
        m_listLayout->addWidget(row);
        m_rows << row;
    }
    m_countLabel->setText(QStringLiteral("%1 active").arg(apps.size()));
    m_emptyLabel->setVisible(apps.isEmpty());
    m_list->setVisible(!apps.isEmpty());
    refreshSelection();
}

void ExclusionsPane::refreshSelection() {
    const std::optional<QString> selected = m_view.selectedExclusionID();
    m_removeButton->setEnabled(selected.has_value());
    const QList<ExcludedApp> apps = m_view.manager().activeExcludedApps();
    for (qsizetype i = 0; i < m_rows.size() && i < apps.size(); ++i)
        static_cast<ExcludedAppRow*>(m_rows[i])->setSelected(selected == apps[i].bundleIdentifier);
}
