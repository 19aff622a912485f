#include "ExclusionList.h"

#include "Accent.h"
#include "AppIcon.h"
#include "ApplicationChooser.h"
#include "ElidedLabel.h"
#include "Keyboard.h"
#include "Style.h"
#include "Symbols.h"

#include "engine/RunningAppsManager.h"
#include "engine/Workspace.h"
#include "preferences/PreferenceKeys.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

// --- ExcludedAppRow

ExcludedAppRow::ExcludedAppRow(ExcludedApp app, RunningAppsManager& manager, QWidget* parent)
    : QAbstractButton(parent)
    , m_app(std::move(app))
    , m_manager(&manager)
    , m_icon(new QLabel(this))
    , m_name(new ElidedLabel(this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    // The label draws the name; as the button's text it is what the keyboard and screen
    // readers go by.
    setText(m_app.name);
    setToolTip(m_app.path);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);
    layout->addWidget(m_icon, 0, Qt::AlignVCenter);
    layout->addWidget(m_name, 1, Qt::AlignVCenter);
    m_icon->setAlignment(Qt::AlignCenter);
    m_name->setText(m_app.name);
    connect(&manager.defaults(), &UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(Keys::rowIconSize.name) ||
            key == QLatin1String(Keys::accentColor.name))
            refresh();
    });
    refresh();
}

void ExcludedAppRow::setSelected(bool selected) {
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

int ExcludedAppRow::iconEdge(qint64 rowIconSize) {
    return static_cast<int>(std::max<qint64>(Keys::rowIconSize.range().clamp(rowIconSize) - 8, 16));
}

int ExcludedAppRow::currentIconEdge() const {
    return iconEdge(Preference<qint64>(m_manager->defaults(), Keys::rowIconSize).value());
}

QSize ExcludedAppRow::sizeHint() const {
    return layout()->sizeHint();
}

void ExcludedAppRow::refresh() {
    const int edge = currentIconEdge();
    m_icon->setFixedSize(edge, edge);
    const QIcon icon = iconForApplication(m_manager->workspace().iconNameForEntry(m_app.path));
    m_icon->setPixmap(icon.pixmap(QSize(edge, edge), devicePixelRatioF()));
    updateGeometry();
    update();
}

void ExcludedAppRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_selected) {
        QColor fill = accentColorInUse(m_manager->defaults());
        fill.setAlphaF(0.2f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 5, 5);
        p.fillPath(shape, fill);
    }
    if (hasFocus())
        Keyboard::drawFocusRing(p, this, QRectF(rect()), 5);
}

// --- ExclusionList

namespace {
QToolButton* symbolButton(QWidget* parent, const QString& symbol, const QString& tooltip) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(14, 14));
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(Symbols::icon(symbol, parent->palette().color(QPalette::WindowText)));
    return button;
}

QPushButton* textButton(QWidget* parent, const QString& text, const QString& symbol) {
    auto* button = new QPushButton(
        Symbols::icon(symbol, parent->palette().color(QPalette::WindowText)), text, parent);
    // Room around the text whatever the widget style, as the other settings buttons have.
    const QSize hint = button->sizeHint();
    button->setMinimumSize(hint.width() + 16,
                           std::max(hint.height(), button->fontMetrics().height() + 10));
    return button;
}

QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Style::secondaryText(parent->palette()));
    label->setPalette(palette);
    return label;
}
} // namespace

ExclusionList::ExclusionList(RunningAppsManager& manager, Look look, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_chooser([&manager](QWidget* window) {
        return ApplicationChooser::choose(manager.workspace(), window);
    })
    , m_rowsBox(new QWidget(this))
    , m_rowsLayout(new QVBoxLayout(m_rowsBox)) {
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    if (look == Look::popover) {
        layout->setContentsMargins(10, 2, 10, 2);
        layout->setSpacing(6);
        auto* title = new QLabel(QStringLiteral("Exclusions"), this);
        title->setFont(Style::headline(font()));
        m_add = symbolButton(this, QStringLiteral("plus"),
                             QStringLiteral("Add an app to always exclude"));
        m_remove = symbolButton(this, QStringLiteral("minus"),
                                QStringLiteral("Remove selected exclusion"));
        header->addWidget(title);
        header->addStretch(1);
        header->addWidget(m_add);
        header->addWidget(m_remove);
        m_empty = secondaryLabel(QStringLiteral("No apps excluded"), Style::caption(font()), this);
        m_empty->setContentsMargins(6, 4, 6, 4);
    } else {
        layout->setContentsMargins(0, 0, 0, 0);
        m_add = textButton(this, QStringLiteral("Add App"), QStringLiteral("plus"));
        m_remove = textButton(this, QStringLiteral("Remove"), QStringLiteral("minus"));
        m_count = secondaryLabel(QString(), Style::caption(font()), this);
        header->addWidget(m_add, 0, Qt::AlignVCenter);
        header->addWidget(m_remove, 0, Qt::AlignVCenter);
        header->addStretch(1);
        header->addWidget(m_count, 0, Qt::AlignVCenter);
        m_empty = secondaryLabel(QStringLiteral("No excluded apps yet."), font(), this);
        m_empty->setContentsMargins(0, 12, 0, 12);
    }
    layout->addLayout(header);
    layout->addWidget(m_empty);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(2);
    layout->addWidget(m_rowsBox);

    connect(m_add, &QAbstractButton::clicked, this, &ExclusionList::addExclusion);
    connect(m_remove, &QAbstractButton::clicked, this, &ExclusionList::removeSelectedExclusion);
    connect(m_manager, &RunningAppsManager::excludedAppsChanged, this, &ExclusionList::followList);
    render();
}

QList<ExcludedAppRow*> ExclusionList::rows() const {
    QList<ExcludedAppRow*> out;
    for (int i = 0; i < m_rowsLayout->count(); ++i)
        if (auto* row = qobject_cast<ExcludedAppRow*>(m_rowsLayout->itemAt(i)->widget()))
            out << row;
    return out;
}

void ExclusionList::setSelectedID(const std::optional<QString>& id) {
    if (id == m_selected)
        return;
    m_selected = id;
    render();
}

bool ExclusionList::selectionIsListed() const {
    const QList<ExcludedApp>& apps = m_manager->excludedApps();
    return m_selected && std::any_of(apps.cbegin(), apps.cend(), [this](const ExcludedApp& app) {
               return app.bundleIdentifier == *m_selected;
           });
}

// Only a list the user sees moves its selection: a hidden one would pick a record the
// user never chose, for "Remove" to act on later.
void ExclusionList::followList() {
    const QList<ExcludedApp>& apps = m_manager->excludedApps();
    if (isVisible() && !selectionIsListed())
        setSelectedID(apps.isEmpty() ? std::nullopt
                                     : std::optional<QString>(apps.first().bundleIdentifier));
    render();
}

void ExclusionList::showEvent(QShowEvent* event) {
    if (!selectionIsListed())
        setSelectedID(std::nullopt);
    QWidget::showEvent(event);
}

void ExclusionList::addExclusion() {
    const QStringList paths = m_chooser ? m_chooser(window()) : QStringList();
    for (const QString& path : paths) {
        // Anything that is not an application entry is skipped without a word.
        if (const std::optional<ExcludedApp> record = m_manager->addExcludedApp(path))
            setSelectedID(record->bundleIdentifier);
    }
}

void ExclusionList::removeSelectedExclusion() {
    if (m_selected)
        m_manager->removeExcludedApp(*m_selected);
}

void ExclusionList::render() {
    const QList<ExcludedApp> apps = m_manager->activeExcludedApps();
    m_remove->setEnabled(m_selected.has_value());
    m_empty->setVisible(apps.isEmpty());
    m_rowsBox->setVisible(!apps.isEmpty());
    if (m_count)
        m_count->setText(QStringLiteral("%1 active").arg(apps.size()));

    const QList<ExcludedAppRow*> current = rows();
    const bool sameRecords = std::equal(
        current.cbegin(), current.cend(), apps.cbegin(), apps.cend(),
        [](const ExcludedAppRow* row, const ExcludedApp& app) { return row->app() == app; });
    if (!sameRecords) {
        // A row may be the sender of the click that led here: retire old rows, never
        // delete them in place.
        while (QLayoutItem* item = m_rowsLayout->takeAt(0)) {
            if (QWidget* w = item->widget()) {
                w->hide();
                w->deleteLater();
            }
            delete item;
        }
        for (const ExcludedApp& app : apps) {
            auto* row = new ExcludedAppRow(app, *m_manager, m_rowsBox);
            connect(row, &QAbstractButton::clicked, this,
                    [this, id = app.bundleIdentifier] { setSelectedID(id); });
            m_rowsLayout->addWidget(row);
        }
    }
    for (ExcludedAppRow* row : rows())
        row->setSelected(m_selected == row->app().bundleIdentifier);
}
