#include "AppRow.h"

#include "Countdown.h"

#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"
#include "ui/Accent.h"
#include "ui/AccentCheckBox.h"
#include "ui/AppIcon.h"
#include "ui/ElidedLabel.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

namespace {
constexpr int kButtonGlyph = 16;

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
    layout->addWidget(m_name, 1, Qt::AlignVCenter);
    layout->addWidget(m_countdown, 0, Qt::AlignVCenter);
    layout->addWidget(m_restart, 0, Qt::AlignVCenter);
    layout->addWidget(m_quit, 0, Qt::AlignVCenter);

    connect(m_checkbox, &QCheckBox::clicked, this,
            [this](bool on) { m_manager->setToggle(toggleKey(), on); });
    connect(m_restart, &QToolButton::clicked, this, &AppRow::restartCountdown);
    connect(m_quit, &QToolButton::clicked, this, &AppRow::quitNow);
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

    const int edge = static_cast<int>(Preference<qint64>(store, Keys::rowIconSize).clamped());
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

    // A countdown that would end in nothing is not shown as one; while paused (the popover
    // says so above the rows) nothing counts down.
    const bool waiting = m_manager->isWaitingForUser(m_app);
    const bool stuck = on && !waiting && m_manager->cannotQuit(m_app);
    m_countdown->setVisible((on && !paused) || waiting);
    QFont countdownFont = font();
    countdownFont.setBold(warning && !waiting && !stuck);
    m_countdown->setFont(countdownFont);
    QPalette countdownPalette = palette();
    if (waiting || stuck)
        countdownPalette.setColor(QPalette::WindowText, Style::secondaryText(palette()));
    m_countdown->setPalette(countdownPalette);
    if (waiting) {
        m_countdown->setText(QStringLiteral("waiting for you"));
        m_countdown->setToolTip(QStringLiteral(
            "It asked you something after Idlewatch asked it to quit. Idlewatch sends it "
            "nothing until you answer; then its countdown starts again."));
    } else if (stuck) {
        m_countdown->setText(QStringLiteral("can't close"));
        m_countdown->setToolTip(
            m_app.canForceQuit()
                ? QStringLiteral("It cannot be asked to quit politely (its window has no close "
                                 "request), and \"Force quit if normal quit fails\" is off in "
                                 "Settings, Behavior.")
                : QStringLiteral("It cannot be asked to quit politely, and this desktop offers "
                                 "no way to force it."));
    } else {
        m_countdown->setText(formatTime(remaining));
        m_countdown->setToolTip({});
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

void AppRow::restartCountdown() {
    m_manager->setLastDeactivation(m_app, m_manager->clock().now());
}

void AppRow::quitNow() {
    // The sweep's own path, polite only. The row stays until a sweep finds the application
    // gone.
    m_manager->requestQuit(m_app, RunningAppsManager::Requester::User);
}
