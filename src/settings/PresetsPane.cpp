#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "engine/ApplyPreset.h"
#include "engine/RunningAppsManager.h"
#include "preferences/BehaviorPreset.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "ui/Keyboard.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <tuple>

namespace {

// The seven values a preset sets, of a preset or as stored now.
template <typename Preset> auto valuesOf(Preset& p) {
    return std::tie(p.minutesUntilClose, p.countdownWarningMinutes, p.openAppsRefreshSeconds,
                    p.launchGraceMinutes, p.ignoreHiddenApps, p.compactRows, p.sortMode);
}
BehaviorPreset storedValues(UserDefaults& store) {
    BehaviorPreset now;
    valuesOf(now) = std::tuple(Preference<qint64>(store, Keys::minutesUntilClose).value(),
                               Preference<qint64>(store, Keys::countdownWarningMinutes).value(),
                               Preference<qint64>(store, Keys::openAppsRefreshSeconds).value(),
                               Preference<qint64>(store, Keys::launchGraceMinutes).value(),
                               Preference<bool>(store, Keys::ignoreHiddenApps).value(),
                               Preference<bool>(store, Keys::compactRows).value(),
                               Preference<QString>(store, Keys::sortMode).value());
    return now;
}

// "Quit after 8h → 45m", one line per value that differs.
QStringList changes(const BehaviorPreset& from, const BehaviorPreset& to) {
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    const auto sort = [](const QString& mode) {
        return mode == QLatin1String("remaining") ? QStringLiteral("time remaining")
               : mode == QLatin1String("recent")  ? QStringLiteral("recently active")
                                                  : QStringLiteral("name");
    };
    const std::tuple<const char*, QString, QString> lines[] = {
        {"Quit after", Preferences::formattedIdleTime(from.minutesUntilClose),
         Preferences::formattedIdleTime(to.minutesUntilClose)},
        {"Bold countdown under", QStringLiteral("%1m").arg(from.countdownWarningMinutes),
         QStringLiteral("%1m").arg(to.countdownWarningMinutes)},
        {"Refresh every", QStringLiteral("%1s").arg(from.openAppsRefreshSeconds),
         QStringLiteral("%1s").arg(to.openAppsRefreshSeconds)},
        {"Launch grace", QStringLiteral("%1m").arg(from.launchGraceMinutes),
         QStringLiteral("%1m").arg(to.launchGraceMinutes)},
        {"Ignore hidden apps", onOff(from.ignoreHiddenApps), onOff(to.ignoreHiddenApps)},
        {"Compact rows", onOff(from.compactRows), onOff(to.compactRows)},
        {"Sort by", sort(from.sortMode), sort(to.sortMode)}};
    QStringList out;
    for (const auto& [label, before, after] : lines)
        if (before != after)
            out << QStringLiteral("%1 %2 → %3").arg(QLatin1String(label), before, after);
    return out;
}

// The whole face is the click target: the labels inside let mouse events through.
// Checked while its values are the stored ones; a click applies it, and only that changes
// the check.
class PresetRow : public QAbstractButton {
public:
    PresetRow(const BehaviorPreset& preset, QWidget* parent)
        : QAbstractButton(parent)
        , m_inUse(SettingsStyle::makeLabel(QStringLiteral("In use"), SettingsStyle::captionFont(),
                                           false, this)) {
        setText(preset.title);
        setCheckable(true);
        setAccessibleName(preset.title);
        setAccessibleDescription(preset.detail);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(10, 10, 10, 10);
        layout->setSpacing(12);
        auto* icon = new QLabel(this);
        SettingsControls::setSymbol(icon, preset.icon, 20, Preferences::goldColor());
        layout->addWidget(icon, 0, Qt::AlignVCenter);

        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(
            SettingsStyle::makeLabel(preset.title, SettingsStyle::headlineFont(), false, this));
        auto* detail =
            SettingsStyle::makeLabel(preset.detail, SettingsStyle::captionFont(), true, this);
        detail->setWordWrap(true);
        texts->addWidget(detail);
        layout->addLayout(texts, 1);
        layout->addWidget(m_inUse, 0, Qt::AlignVCenter);

        QFont timeFont = SettingsStyle::captionFont();
        timeFont.setWeight(QFont::DemiBold);
        layout->addWidget(
            SettingsStyle::makeLabel(Preferences::formattedIdleTime(preset.minutesUntilClose),
                                     timeFont, true, this),
            0, Qt::AlignVCenter);
    }

    void setInUse(bool inUse) {
        setChecked(inUse);
        m_inUse->setVisible(inUse);
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

protected:
    void nextCheckState() override {}

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        QColor fill = SettingsStyle::windowBackgroundColor(this);
        if (isDown())
            fill = fill.darker(108);
        painter.fillPath(path, fill);
        if (isChecked()) {
            painter.setPen(QPen(Preferences::goldColor(), 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
        }
        if (hasFocus())
            Keyboard::drawFocusRing(painter, this, QRectF(rect()).adjusted(2, 2, -2, -2), 7);
    }

private:
    QLabel* m_inUse;
};

// The rows, and after a click what it changed with Undo for a few seconds. Undo writes the
// values back and the countdowns as they were, so an accidental click costs nothing.
class PresetsPane : public QWidget {
public:
    explicit PresetsPane(RunningAppsManager& manager)
        : m_manager(manager)
        , m_notice(new QWidget(this))
        , m_changes(
              SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), false, m_notice)) {
        auto* rows = new QVBoxLayout(this);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(10);
        for (const BehaviorPreset& preset : BehaviorPreset::all()) {
            auto* row = new PresetRow(preset, this);
            m_rows.append({&preset, row});
            connect(row, &QAbstractButton::clicked, this, [this, &preset] { apply(preset); });
            rows->addWidget(row);
        }
        auto* notice = new QHBoxLayout(m_notice);
        notice->setContentsMargins(0, 0, 0, 0);
        m_changes->setWordWrap(true);
        m_changes->setAccessibleName(QStringLiteral("What the preset changed"));
        notice->addWidget(m_changes, 1);
        auto* undo = SettingsControls::makeButton(QStringLiteral("Undo"), m_notice);
        notice->addWidget(undo, 0, Qt::AlignVCenter);
        connect(undo, &QAbstractButton::clicked, this, &PresetsPane::undo);
        rows->addWidget(m_notice);
        m_notice->hide();
        m_expiry.setSingleShot(true);
        m_expiry.setInterval(kUndoSeconds * 1000);
        connect(&m_expiry, &QTimer::timeout, m_notice, &QWidget::hide);

        QStringList keys;
        for (const char* key :
             {Keys::minutesUntilClose.name, Keys::countdownWarningMinutes.name,
              Keys::openAppsRefreshSeconds.name, Keys::launchGraceMinutes.name,
              Keys::ignoreHiddenApps.name, Keys::compactRows.name, Keys::sortMode.name})
            keys << QString::fromLatin1(key);
        SettingsControls::bindRefresh(this, manager.defaults(), keys, [this] {
            const BehaviorPreset stored = storedValues(m_manager.defaults());
            for (const auto& [preset, row] : std::as_const(m_rows))
                row->setInUse(valuesOf(*preset) == valuesOf(stored));
        });
    }

private:
    static constexpr int kUndoSeconds = 10;

    void apply(const BehaviorPreset& preset) {
        UserDefaults& store = m_manager.defaults();
        m_previous = storedValues(store);
        m_previousAccent = Preference<QString>(store, Keys::accentColor).value();
        m_previousStamps = m_manager.runningApps();
        applyPreset(preset, m_manager);
        QStringList lines = changes(m_previous, preset);
        if (m_previousAccent != QLatin1String("gold"))
            lines << QStringLiteral("Accent %1 → gold").arg(m_previousAccent);
        lines << QStringLiteral("every countdown starts again");
        m_changes->setText(preset.title + QStringLiteral(" applied: ") +
                           lines.join(QStringLiteral(", ")) + QLatin1Char('.'));
        m_notice->show();
        m_expiry.start();
    }

    void undo() {
        UserDefaults& store = m_manager.defaults();
        m_previous.writeTo(store);
        Preference<QString>(store, Keys::accentColor).set(m_previousAccent);
        // Applications that came meanwhile keep their new stamps.
        RunningAppsManager::AppTimes stamps = m_manager.runningApps();
        for (auto it = stamps.begin(); it != stamps.end(); ++it)
            it.value() = m_previousStamps.value(it.key(), it.value());
        m_manager.setRunningApps(stamps);
        m_notice->hide();
        m_expiry.stop();
    }

    RunningAppsManager& m_manager;
    QList<std::pair<const BehaviorPreset*, PresetRow*>> m_rows;
    QWidget* m_notice;
    QLabel* m_changes;
    QTimer m_expiry;
    BehaviorPreset m_previous;
    QString m_previousAccent;
    RunningAppsManager::AppTimes m_previousStamps;
};

} // namespace

QWidget* Panes::presets(RunningAppsManager& manager) {
    return new PreferenceGroup(QStringLiteral("Presets"),
                               QStringLiteral("slider.horizontal.below.sun.max"),
                               new PresetsPane(manager), manager.defaults());
}
