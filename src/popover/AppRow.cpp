#include "AppRow.h"

#include "Countdown.h"

#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "ui/Accent.h"
#include "ui/AccentCheckBox.h"
#include "ui/AppIcon.h"
#include "ui/ElidedLabel.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QActionGroup>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

namespace {
constexpr int kButtonGlyph = 16;
// The context menu's own timeouts, in minutes.
constexpr qint64 kTimeoutChoices[] = {15, 30, 60, 120, 240, 480, 1440};

QToolButton* makeSymbolButton(QWidget* parent, const QString& accessibleName) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIconSize(QSize(kButtonGlyph, kButtonGlyph));
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    button->setAccessibleName(accessibleName);
    return button;
}
} // namespace

AppRow::AppRow(RunningApplication app, RunningAppsManager& manager, QWidget* parent)
    : QWidget(parent)
    , m_app(std::move(app))
    , m_manager(&manager)
    , m_checkbox(new AccentCheckBox(this))
    , m_icon(new QLabel(this))
    , m_name(new ElidedLabel(this))
    , m_title(new ElidedLabel(this))
    , m_exclude(new QAction(QStringLiteral("Exclude"), this))
    , m_timeouts(new QActionGroup(this))
    , m_memory(new QLabel(this))
    , m_countdown(new QLabel(this))
    , m_restart(makeSymbolButton(this, QStringLiteral("Restart countdown")))
    , m_quit(makeSymbolButton(this, QStringLiteral("Quit now"))) {
    m_restart->setToolTip(QStringLiteral("Start the countdown again from the full timeout"));
    m_quit->setToolTip(QStringLiteral("Ask %1 to quit now").arg(displayName()));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_name->setMinimumTextWidth(100);
    m_icon->setAlignment(Qt::AlignCenter);
    m_countdown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(m_checkbox, 0, Qt::AlignVCenter);
    layout->addWidget(m_icon, 0, Qt::AlignVCenter);
    // The name takes the free width, so the flexible space after it collapses to nothing.
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    names->addWidget(m_name);
    names->addWidget(m_title);
    m_title->hide();
    m_title->setFont(Style::callout(font()));
    layout->addLayout(names, 1);
    m_memory->setFont(Style::callout(font()));
    m_memory->setToolTip(QStringLiteral("Memory its processes hold"));
    layout->addWidget(m_memory, 0, Qt::AlignVCenter);
    layout->addWidget(m_countdown, 0, Qt::AlignVCenter);
    layout->addWidget(m_restart, 0, Qt::AlignVCenter);
    layout->addWidget(m_quit, 0, Qt::AlignVCenter);

    connect(m_checkbox, &QCheckBox::clicked, this,
            [this](bool on) { m_manager->setToggle(toggleKey(), on); });
    connect(m_restart, &QToolButton::clicked, this, &AppRow::restartCountdown);
    connect(m_quit, &QToolButton::clicked, this, &AppRow::quitNow);
    // Any row can be excluded, also one without a desktop entry.
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(m_exclude);
    connect(m_exclude, &QAction::triggered, this, [this] { m_manager->excludeApplication(m_app); });
    auto* timeoutMenu = new QMenu(this);
    const auto choice = [&](const QString& text, const QVariant& minutes) {
        QAction* action = timeoutMenu->addAction(text);
        action->setCheckable(true);
        action->setData(minutes);
        m_timeouts->addAction(action);
    };
    choice(QStringLiteral("Default"), {});
    for (const qint64 minutes : kTimeoutChoices)
        choice(Preferences::formattedIdleTime(minutes), minutes);
    choice(QStringLiteral("Custom…"), -1);
    connect(m_timeouts, &QActionGroup::triggered, this, &AppRow::chooseTimeout);
    auto* timeout = new QAction(QStringLiteral("Timeout"), this);
    timeout->setMenu(timeoutMenu);
    addAction(timeout);
    refresh();
}

QString AppRow::toggleKey() const {
    return m_app.displayName().value_or(QString());
}

QString AppRow::displayName() const {
    return m_app.displayName().value_or(QStringLiteral("Unknown"));
}

qint64 AppRow::remainingSeconds() const {
    return m_manager->secondsUntilQuit(m_app);
}

QString AppRow::formatTime(qint64 seconds) const {
    UserDefaults& store = m_manager->defaults();
    return Countdown::formatTime(seconds, Preference<QString>(store, Keys::countdownStyle).value(),
                                 Preference<bool>(store, Keys::showSecondsInCountdown).value());
}

void AppRow::refresh() {
    UserDefaults& store = m_manager->defaults();
    const bool on = m_manager->toggleValue(toggleKey());
    const qint64 remaining = remainingSeconds();
    const bool warning = Countdown::isWarning(
        remaining, Preference<qint64>(store, Keys::countdownWarningMinutes).value());
    const int pad = Preference<bool>(store, Keys::compactRows).value() ? 1 : 4;
    layout()->setContentsMargins(0, pad, 0, pad);

    m_checkbox->setChecked(on);
    m_checkbox->setAccent(accentColorInUse(store));
    m_checkbox->setAccessibleName(QStringLiteral("Quit %1 when idle").arg(displayName()));
    m_checkbox->setToolTip(on ? QStringLiteral("Idlewatch quits %1 once it is idle; click to "
                                               "keep it open")
                                    .arg(displayName())
                              : QStringLiteral("Idlewatch leaves %1 open; click to let it "
                                               "quit it when idle")
                                    .arg(displayName()));

    const int edge = static_cast<int>(Preference<qint64>(store, Keys::rowIconSize).value());
    if (edge != m_iconEdge) {
        m_iconEdge = edge;
        m_icon->setFixedSize(edge, edge);
        const QString path = m_app.entryPath().value_or(QString());
        m_icon->setPixmap(iconForApplication(m_manager->workspace().iconNameForEntry(path))
                              .pixmap(QSize(edge, edge), devicePixelRatioF()));
    }

    QFont nameFont = font();
    const bool paused = !m_manager->quittingEnabled().value();
    // Bold says "soon": nothing is soon while paused.
    nameFont.setBold(warning && on && !paused);
    m_name->setFont(nameFont);
    m_name->setText(displayName());
    m_name->setTextColor(on ? palette().color(QPalette::WindowText)
                            : Style::secondaryText(palette()));

    // Past or instead of its countdown, the row says what the engine waits for; while paused
    // (the popover says so above the rows) nothing counts down.
    using State = RunningAppsManager::AppState;
    const State state = m_manager->appState(m_app);
    const bool waiting = state == State::WaitingForYou;
    m_countdown->setVisible(state != State::SwitchedOff && (!paused || waiting));
    QFont countdownFont = font();
    countdownFont.setBold(warning && state == State::Counting);
    m_countdown->setFont(countdownFont);
    QPalette countdownPalette = palette();
    if (state != State::Counting)
        countdownPalette.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    m_countdown->setPalette(countdownPalette);
    const auto say = [this](const QString& text, const QString& tip) {
        m_countdown->setText(text);
        m_countdown->setToolTip(tip);
    };
    switch (state) {
    case State::WaitingForYou:
        say(QStringLiteral("waiting for you"),
            QStringLiteral("Idlewatch asked it to quit and it is still open: it may be asking you "
                           "something. It is sent nothing more until you have switched to it "
                           "and away again; then its countdown starts again."));
        break;
    case State::CannotQuit:
        say(QStringLiteral("can't close"),
            m_app.canForceQuit()
                ? QStringLiteral("It cannot be asked to quit politely (its window has no close "
                                 "request), and \"Force quit if normal quit fails\" is off in "
                                 "Settings, Behavior.")
                : QStringLiteral("It cannot be asked to quit politely, and it cannot be "
                                 "forced to quit here either."));
        break;
    case State::PlayingAudio:
        say(QStringLiteral("playing audio"),
            QStringLiteral("It is playing sound, so it is in use: it is not asked to quit until "
                           "the sound stops."));
        break;
    case State::Busy:
        say(QStringLiteral("busy"),
            QStringLiteral("A job is running in it. It is asked to quit once the job has ended."));
        break;
    case State::HeldUntilAway:
        say(QStringLiteral("waits until you're away"),
            QStringLiteral("Its time is up. It is asked to quit once keyboard and pointer have "
                           "been left alone for two minutes, or the screen is locked."));
        break;
    case State::Counting:
    case State::SwitchedOff:
        say(formatTime(remaining), {});
        break;
    }

    // Read while the popover shows, not more often than every ten seconds.
    const double now = m_manager->clock().now();
    if (!m_memoryRead || now - *m_memoryRead >= kMemoryRefreshSeconds) {
        m_memoryRead = now;
        const std::optional<qint64> bytes = m_manager->memoryOf(m_app);
        m_memory->setText(bytes ? Countdown::formatMemory(*bytes) : QString());
        m_memory->setVisible(bytes.has_value());
    }
    QPalette memoryPalette = palette();
    memoryPalette.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    m_memory->setPalette(memoryPalette);

    const std::optional<qint64> own = m_manager->appTimeout(toggleKey());
    const qint64 fallback = m_manager->minutesUntilClose().value();
    bool listed = false;
    for (QAction* action : m_timeouts->actions()) {
        const QVariant minutes = action->data();
        if (!minutes.isValid()) {
            action->setText(
                QStringLiteral("Default (%1)").arg(Preferences::formattedIdleTime(fallback)));
            action->setChecked(!own);
        } else if (minutes.toLongLong() < 0) {
            action->setText(
                own && !listed
                    ? QStringLiteral("Custom (%1)…").arg(Preferences::formattedIdleTime(*own))
                    : QStringLiteral("Custom…"));
            action->setChecked(own && !listed);
        } else {
            const bool mine = own == minutes.toLongLong();
            listed = listed || mine;
            action->setChecked(mine);
        }
    }

    const QColor glyph = palette().color(QPalette::WindowText);
    if (glyph != m_glyphColor) {
        m_glyphColor = glyph;
        m_restart->setIcon(Symbols::icon(QStringLiteral("arrow.uturn.backward.circle"), glyph));
        m_quit->setIcon(Symbols::icon(QStringLiteral("x.circle"), glyph));
    }
    m_restart->setEnabled(on && !waiting);
    m_quit->setVisible(Preference<bool>(store, Keys::showCloseButton).value());
    m_quit->setEnabled(on && !waiting && m_app.acceptsPoliteQuit());
}

void AppRow::setTitleShown(bool shown) {
    m_title->setText(m_app.windowTitle());
    m_title->setTextColor(Style::secondaryText(palette()));
    m_title->setVisible(shown && !m_title->text().isEmpty());
}

void AppRow::restartCountdown() {
    m_manager->setLastDeactivation(m_app, m_manager->clock().now());
}

void AppRow::chooseTimeout(QAction* choice) {
    const QVariant minutes = choice->data();
    if (!minutes.isValid())
        return m_manager->setAppTimeout(toggleKey(), std::nullopt);
    if (minutes.toLongLong() >= 0)
        return m_manager->setAppTimeout(toggleKey(), minutes.toLongLong());
    const IntRange& range = Keys::appTimeoutRange;
    bool ok = false;
    const int chosen = QInputDialog::getInt(
        this, QStringLiteral("Timeout for %1").arg(displayName()),
        QStringLiteral("Minutes %1 may stay unused before Idlewatch quits it:").arg(displayName()),
        int(m_manager->appTimeout(toggleKey()).value_or(m_manager->minutesUntilClose().value())),
        int(range.minimum), int(range.maximum), 15, &ok);
    if (ok)
        m_manager->setAppTimeout(toggleKey(), chosen);
    refresh(); // the check marks, also when cancelled
}

void AppRow::quitNow() {
    // The sweep's own path, polite only. The row stays until a sweep finds the application
    // gone.
    m_manager->requestQuit(m_app, RunningAppsManager::Requester::User);
}
