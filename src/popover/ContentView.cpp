#include "ContentView.h"

#include "AppRow.h"
#include "ClosedToday.h"
#include "Countdown.h"

#include "preferences/PreferenceKeys.h"
#include "ui/Accent.h"
#include "ui/ElidedLabel.h"
#include "ui/ExclusionList.h"
#include "ui/Keyboard.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kEmptyIconSize = 22;

// Plain code-point order of the canonically composed names: case-sensitive and blind to
// locale. UTF-16 unit order would misplace characters beyond the BMP, so compare UCS-4.
QList<uint> sortKey(const QString& name) {
    return name.normalized(QString::NormalizationForm_C).toUcs4();
}

} // namespace

// A full-width text item that highlights in the accent colour under the pointer. The whole
// rectangle is the click target, transparent parts included.
class ContentView::FooterItem : public QAbstractButton {
public:
    FooterItem(const QString& text, HoveredButton which, ContentView* view)
        : QAbstractButton(view)
        , m_which(which)
        , m_view(view) {
        setText(text);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(text);
    }

    bool isHighlighted() const { return m_view->hoveredButton() == m_which || hasFocus(); }
    QColor textColor() const {
        return isHighlighted() ? Style::textOn(m_view->accentColor())
                               : palette().color(QPalette::WindowText);
    }

    QSize sizeHint() const override {
        const QFontMetrics fm = fontMetrics();
        return {fm.horizontalAdvance(text()) + 20, fm.height() + 10};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void enterEvent(QEnterEvent*) override { m_view->setHovered(m_which); }
    void leaveEvent(QEvent*) override { m_view->setHovered(std::nullopt); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isHighlighted()) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 5, 5);
            p.fillPath(shape, m_view->accentColor());
        }
        p.setPen(textColor());
        p.drawText(rect().adjusted(10, 5, -10, -5), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    HoveredButton m_which;
    ContentView* m_view;
};

ContentView::ContentView(RunningAppsManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_root(new QWidget(this))
    , m_pausedBanner(new QWidget(m_root))
    , m_resume(new QPushButton(QStringLiteral("Resume"), m_pausedBanner))
    , m_setupNotice(new QLabel(m_root))
    , m_listScroll(new QScrollArea(m_root))
    , m_listBlock(new QWidget(m_listScroll))
    , m_listLayout(new QVBoxLayout(m_listBlock))
    , m_emptyState(new QWidget(m_listBlock))
    , m_emptyIcon(new QLabel(m_emptyState))
    , m_emptyText(new QLabel(m_emptyState))
    , m_dividerBox(new QWidget(m_root))
    , m_divider(new QFrame(m_dividerBox)) {
    Keyboard::pressButtonsOnReturn();
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(5, 5, 5, 5);
    outer->setSpacing(0);
    // The popover grows by one row per application, up to the height limit; beyond it the
    // list scrolls and the footer stays in reach.
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(m_root);

    auto* root = new QVBoxLayout(m_root);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // While paused nothing counts down: the rows show no countdown, and this says why.
    auto* banner = new QHBoxLayout(m_pausedBanner);
    banner->setContentsMargins(10, 6, 10, 4);
    auto* pausedTexts = new QVBoxLayout;
    pausedTexts->setSpacing(0);
    auto* paused = new QLabel(QStringLiteral("Paused"), m_pausedBanner);
    paused->setFont(Style::headline(font()));
    auto* pausedDetail =
        new QLabel(QStringLiteral("Idlewatch quits nothing until you resume."), m_pausedBanner);
    pausedDetail->setFont(Style::caption(font()));
    pausedTexts->addWidget(paused);
    pausedTexts->addWidget(pausedDetail);
    banner->addLayout(pausedTexts, 1);
    banner->addWidget(m_resume, 0, Qt::AlignVCenter);
    m_resume->setToolTip(QStringLiteral("Switch automatic quitting back on"));
    connect(m_resume, &QAbstractButton::clicked, this,
            [this] { m_manager->quittingEnabled().set(true); });
    root->addWidget(m_pausedBanner);
    // Selectable, so that its command can be copied into a terminal.
    m_setupNotice->setWordWrap(true);
    m_setupNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_setupNotice->setContentsMargins(10, 6, 10, 4);
    m_setupNotice->setFont(Style::caption(font()));
    m_setupNotice->hide();
    root->addWidget(m_setupNotice);

    m_listLayout->setContentsMargins(10, 5, 10, 0);
    m_listLayout->setSpacing(0);
    auto* empty = new QVBoxLayout(m_emptyState);
    empty->setContentsMargins(0, 18, 0, 18);
    empty->setSpacing(6);
    empty->addWidget(m_emptyIcon, 0, Qt::AlignHCenter);
    empty->addWidget(m_emptyText, 0, Qt::AlignHCenter);
    m_emptyIcon->setFixedSize(kEmptyIconSize, kEmptyIconSize);
    m_emptyText->setFont(Style::callout(font()));
    m_emptyText->setAlignment(Qt::AlignCenter);
    m_listLayout->addWidget(m_emptyState);
    m_listScroll->setWidget(m_listBlock);
    m_listScroll->setWidgetResizable(true);
    m_listScroll->setFrameShape(QFrame::NoFrame);
    m_listScroll->setFocusPolicy(Qt::NoFocus); // its rows take the focus, not the area
    m_listScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listScroll->viewport()->setAutoFillBackground(false);
    m_listBlock->setAutoFillBackground(false);
    root->addWidget(m_listScroll);

    auto* dividerLayout = new QVBoxLayout(m_dividerBox);
    dividerLayout->setContentsMargins(10, 5, 10, 5);
    m_divider->setFrameShape(QFrame::HLine);
    m_divider->setFrameShadow(QFrame::Plain);
    m_divider->setFixedHeight(1);
    QPalette line = m_divider->palette();
    line.setColor(QPalette::WindowText, Style::separator(palette()));
    m_divider->setPalette(line);
    dividerLayout->addWidget(m_divider);
    root->addWidget(m_dividerBox);

    m_exclusions = new ExclusionList(manager, ExclusionList::Look::popover, m_root);
    root->addWidget(m_exclusions);

    // What closing applications gave back today, measured as each was asked.
    m_freed = new QLabel(m_root);
    m_freed->setFont(Style::caption(font()));
    m_freed->setContentsMargins(10, 4, 10, 2);
    root->addWidget(m_freed);

    m_settings = new FooterItem(QStringLiteral("Settings"), HoveredButton::settings, this);
    m_settings->setParent(m_root);
    connect(m_settings, &QAbstractButton::clicked, this, &ContentView::openSettingsRequested);
    m_quit = new FooterItem(QStringLiteral("Quit Idlewatch"), HoveredButton::quit, this);
    m_quit->setParent(m_root);
    connect(m_quit, &QAbstractButton::clicked, this, &ContentView::quitRequested);
    root->addWidget(m_settings);
    root->addWidget(m_quit);

    connect(m_manager, &RunningAppsManager::runningAppsChanged, this, &ContentView::renderIfLive);
    connect(m_manager, &RunningAppsManager::toggleStatusChanged, this, &ContentView::renderIfLive);
    connect(m_manager, &RunningAppsManager::excludedAppsChanged, this, &ContentView::renderIfLive);
    connect(m_manager, &RunningAppsManager::freedTodayChanged, this, &ContentView::renderIfLive);
    connect(&m_manager->defaults(), &UserDefaults::changed, this, &ContentView::renderIfLive);
    render();
}

ContentView::~ContentView() = default;

void ContentView::setSetupNotice(const QString& text) {
    m_setupNotice->setText(text);
    m_setupNotice->setVisible(!text.isEmpty());
}

int ContentView::contentWidth() const {
    return static_cast<int>(Preference<qint64>(m_manager->defaults(), Keys::popoverWidth).value());
}

QColor ContentView::accentColor() const {
    return accentColorInUse(m_manager->defaults());
}

qint64 ContentView::remainingSeconds(const RunningApplication& app) const {
    return m_manager->secondsUntilQuit(app);
}

QList<RunningApplication> ContentView::sortedRunningApps() const {
    const auto& apps = m_manager->runningApps();
    const QString mode = Preference<QString>(m_manager->defaults(), Keys::sortMode).value();
    QList<RunningApplication> out;
    out.reserve(apps.size());

    if (mode == QLatin1String("remaining")) {
        // One reading of the clock for the whole sort keeps the order consistent.
        const double now = m_manager->clock().now();
        const auto& firstSeen = m_manager->firstSeenApps();
        QList<std::pair<qint64, RunningApplication>> keyed;
        for (auto it = apps.cbegin(); it != apps.cend(); ++it)
            keyed.append({m_manager->quitRule(it.key()).secondsLeft(
                              it.value(), firstSeen.value(it.key(), it.value()), now),
                          it.key()});
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& entry : keyed)
            out << entry.second;
    } else if (mode == QLatin1String("recent")) {
        QList<std::pair<double, RunningApplication>> keyed;
        for (auto it = apps.cbegin(); it != apps.cend(); ++it)
            keyed.append({it.value(), it.key()});
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& entry : keyed)
            out << entry.second;
    } else {
        QList<std::pair<QList<uint>, RunningApplication>> keyed;
        for (auto it = apps.cbegin(); it != apps.cend(); ++it)
            keyed.append({sortKey(it.key().displayName().value_or(QString())), it.key()});
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& entry : keyed)
            out << entry.second;
    }
    return out;
}

QList<AppRow*> ContentView::rows() const {
    QList<AppRow*> out;
    for (int i = 0; i < m_listLayout->count(); ++i) {
        if (auto* row = qobject_cast<AppRow*>(m_listLayout->itemAt(i)->widget()))
            out << row;
    }
    return out;
}

void ContentView::setClosedToday(ClosedToday& list) {
    if (m_closedToday)
        return;
    m_closedToday = new ClosedTodaySection(list, m_root);
    auto* root = static_cast<QVBoxLayout*>(m_root->layout());
    root->insertWidget(root->indexOf(m_dividerBox), m_closedToday);
    connect(&list, &ClosedToday::changed, this, &ContentView::renderIfLive);
    render();
}

QWidget* ContentView::settingsItem() const {
    return m_settings;
}

QWidget* ContentView::quitItem() const {
    return m_quit;
}

QStringList ContentView::rowTexts() const {
    QStringList out;
    for (const AppRow* row : rows()) {
        QString line = row->nameLabel()->text();
        if (!row->titleLabel()->isHidden())
            line += QLatin1Char('\t') + row->titleLabel()->text();
        if (!row->countdownLabel()->isHidden())
            line += QLatin1Char('\t') + row->countdownLabel()->text();
        out << line;
    }
    return out;
}

void ContentView::setHovered(std::optional<HoveredButton> button) {
    if (m_hoveredButton == button)
        return;
    m_hoveredButton = button;
    m_settings->update();
    m_quit->update();
}

void ContentView::setHeightLimit(int pixels) {
    m_heightLimit = pixels;
    render();
}

void ContentView::setLive(bool live) {
    m_live = live;
    // Closed under the pointer, an item never sees the pointer leave.
    if (!m_live)
        setHovered(std::nullopt);
    if (m_live && m_stale)
        render();
}

void ContentView::renderIfLive() {
    if (m_live)
        render();
    else
        m_stale = true;
}

void ContentView::render() {
    m_stale = false;
    UserDefaults& store = m_manager->defaults();
    const QColor accent = accentColor();

    const QList<RunningApplication> sorted = sortedRunningApps();

    // Rows of applications that left the engine's map go; the others are refreshed and
    // put in the new order. Removed rows are deleted later: one may be mid-click.
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (!m_manager->runningApps().contains(it.key())) {
            m_listLayout->removeWidget(it.value());
            it.value()->hide();
            it.value()->deleteLater();
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    for (AppRow* row : std::as_const(m_rows))
        m_listLayout->removeWidget(row);
    QHash<QString, int> names;
    for (const RunningApplication& app : sorted)
        ++names[app.displayName().value_or(QString())];
    for (const RunningApplication& app : sorted) {
        AppRow*& row = m_rows[app];
        if (!row)
            row = new AppRow(app, *m_manager, m_listBlock);
        else
            row->refresh();
        // Two copies of one application are told apart by their windows' titles.
        row->setTitleShown(names.value(app.displayName().value_or(QString())) > 1);
        m_listLayout->addWidget(row);
        row->show();
    }

    m_pausedBanner->setVisible(!m_manager->quittingEnabled().value());

    const bool showEmpty =
        sorted.isEmpty() && Preference<bool>(store, Keys::showEmptyState).value();
    m_emptyState->setVisible(showEmpty);
    if (showEmpty) {
        const bool quitting = m_manager->quittingEnabled().value();
        m_emptyIcon->setPixmap(Symbols::pixmap(quitting ? QStringLiteral("checkmark.circle")
                                                        : QStringLiteral("pause.circle"),
                                               kEmptyIconSize, accent, devicePixelRatioF()));
        m_emptyText->setText(quitting ? QStringLiteral("No apps are counting down")
                                      : QStringLiteral("Automatic quitting is paused"));
        QPalette secondary = m_emptyText->palette();
        secondary.setColor(QPalette::WindowText, Style::secondaryText(palette()));
        m_emptyText->setPalette(secondary);
    }

    const qint64 freed = m_manager->freedToday();
    m_freed->setVisible(freed > 0);
    m_freed->setText(QStringLiteral("Freed %1 today").arg(Countdown::formatMemory(freed)));
    QPalette freedPalette = m_freed->palette();
    freedPalette.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    m_freed->setPalette(freedPalette);

    const bool showExclusions = Preference<bool>(store, Keys::showExclusionsInPopover).value();
    m_dividerBox->setVisible(showExclusions);
    m_exclusions->setVisible(showExclusions);

    if (m_closedToday)
        m_closedToday->followDay();

    // The list takes what the exclusions and the footer leave of the height limit.
    int others = 10;
    for (QWidget* part :
         {m_pausedBanner, static_cast<QWidget*>(m_closedToday), static_cast<QWidget*>(m_dividerBox),
          static_cast<QWidget*>(m_exclusions), static_cast<QWidget*>(m_freed),
          static_cast<QWidget*>(m_settings), static_cast<QWidget*>(m_quit)})
        others += !part || part->isHidden() ? 0 : part->sizeHint().height();
    const int listHeight = m_listBlock->sizeHint().height();
    const bool scrolls = listHeight > m_heightLimit - others;
    m_listScroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    m_listScroll->setFixedHeight(scrolls ? std::max(m_heightLimit - others, 0) : listHeight);
    // Grown past "popoverWidth" when a row would leave its name less than its minimum.
    int needed = 0;
    for (const AppRow* row : std::as_const(m_rows))
        needed = std::max(needed, row->minimumSizeHint().width());
    needed += 20 + (scrolls ? m_listScroll->verticalScrollBar()->sizeHint().width() : 0);
    m_root->setFixedWidth(std::max(contentWidth(), needed));

    m_settings->update();
    m_quit->update();
    // Take the new size now, so the host can place the window before it is next painted.
    layout()->activate();
    orderTabStops();
    emit rendered();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    orderTabStops();
}

void ContentView::orderTabStops() {
    // Rows come and go and change order: Tab follows them as shown, once laid out.
    QMetaObject::invokeMethod(
        this, [this] { Keyboard::orderTopToBottom(this); }, Qt::QueuedConnection);
}
