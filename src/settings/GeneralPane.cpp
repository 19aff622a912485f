#include "GeneralPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

#include "LaunchAtLogin/Toggle.h"
#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>

#include <algorithm>

namespace {
Preference<qint64> minutesUntilClose(const SettingsView& view) {
    return {view.store(), Keys::minutesUntilClose};
}
} // namespace

GeneralPane::GeneralPane(SettingsView& view, QWidget* parent)
    : QWidget(parent)
    , m_view(view) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(buildCoreCard());
    layout->addWidget(buildIdleTimerCard());
    layout->addWidget(buildRowsCard());
}

GeneralPane::~GeneralPane() {
    // A field losing the focus while the widgets are torn down must not commit into a
    // half-destroyed pane.
    m_hoursField->disconnect(this);
    m_minutesField->disconnect(this);
}

QWidget* GeneralPane::buildCoreCard() {
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 0, 0);
    m_quittingEnabled = SettingsControls::makeToggle(
        QStringLiteral("Enable automatic quitting"),
        Preference<bool>(m_view.store(), Keys::quittingEnabled), content);
    rows->addWidget(m_quittingEnabled);

    auto* launchRow = new QHBoxLayout;
    launchRow->addWidget(new QLabel(QStringLiteral("Launch at login"), content), 0,
                         Qt::AlignVCenter);
    m_launchAtLogin = new LaunchAtLogin::Toggle(content);
    launchRow->addWidget(m_launchAtLogin, 0, Qt::AlignVCenter);
    launchRow->addStretch(1);
    rows->addLayout(launchRow);

    m_newAppsEnabled = SettingsControls::makeToggle(
        QStringLiteral("New apps are enabled by default"),
        Preference<bool>(m_view.store(), Keys::newAppsEnabled), content);
    rows->addWidget(m_newAppsEnabled);
    return new PreferenceGroup(QStringLiteral("Core"), QStringLiteral("power"), content,
                               m_view.store(), this);
}

QWidget* GeneralPane::buildIdleTimerCard() {
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 0, 0);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* quitAfter = new QLabel(QStringLiteral("Quit after"), content);
    quitAfter->setFixedWidth(130);
    row->addWidget(quitAfter, 0, Qt::AlignVCenter);
    m_hoursField = makeField(QStringLiteral("Hours"), idleHoursBinding());
    row->addWidget(m_hoursField, 0, Qt::AlignVCenter);
    row->addWidget(new QLabel(QStringLiteral("h"), content), 0, Qt::AlignVCenter);
    m_minutesField = makeField(QStringLiteral("Minutes"), idleMinutesBinding());
    row->addWidget(m_minutesField, 0, Qt::AlignVCenter);
    row->addWidget(new QLabel(QStringLiteral("m"), content), 0, Qt::AlignVCenter);
    const IntBinding hours = idleHoursBinding();
    const IntBinding minutes = idleMinutesBinding();
    m_hoursStepper = new Stepper(QStringLiteral("Hours"), {0, 72, 1}, hours.get, hours.set);
    m_minutesStepper = new Stepper(QStringLiteral("Minutes"), {0, 59, 1}, minutes.get, minutes.set);
    row->addWidget(m_hoursStepper, 0, Qt::AlignVCenter);
    row->addWidget(m_minutesStepper, 0, Qt::AlignVCenter);
    row->addWidget(SettingsStyle::makeLabel(QStringLiteral("inactive"), SettingsStyle::bodyFont(),
                                            true, content),
                   0, Qt::AlignVCenter);
    row->addStretch(1);
    rows->addLayout(row);

    m_currentTimeout =
        SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), true, content);
    rows->addWidget(m_currentTimeout);

    SettingsControls::bindRefresh(this, m_view.store(),
                                  {QString::fromLatin1(Keys::minutesUntilClose.name)},
                                  [this] { refreshIdleTime(false); });
    return new PreferenceGroup(QStringLiteral("Idle timer"), QStringLiteral("clock"), content,
                               m_view.store(), this);
}

QWidget* GeneralPane::buildRowsCard() {
    m_showCloseButton =
        SettingsControls::makeToggle(QStringLiteral("Show manual quit button in app rows"),
                                     Preference<bool>(m_view.store(), Keys::showCloseButton));
    return new PreferenceGroup(QStringLiteral("App rows"), QStringLiteral("x.circle"),
                               m_showCloseButton, m_view.store(), this);
}

QLineEdit* GeneralPane::makeField(const QString& accessibleName, const IntBinding& binding) {
    auto* field = new QLineEdit;
    field->setAccessibleName(accessibleName);
    field->setPlaceholderText(QStringLiteral("0"));
    field->setFixedWidth(50);
    field->setAlignment(Qt::AlignRight);
    connect(field, &QLineEdit::editingFinished, this,
            [this, field, binding] { commitField(field, binding); });
    return field;
}

void GeneralPane::commitField(QLineEdit* field, const IntBinding& binding) {
    bool ok = false;
    const qint64 value = QLocale().toLongLong(field->text().trimmed(), &ok);
    // Text that is not a whole number changes nothing; the stored value shows again.
    if (ok)
        binding.set(value);
    refreshIdleTime(true);
}

void GeneralPane::refreshIdleTime(bool force) {
    const QLocale locale;
    const auto show = [force](QLineEdit* field, qint64 value, const QLocale& loc) {
        if (!force && field->hasFocus() && field->isModified())
            return;
        field->setText(loc.toString(value));
        field->setModified(false);
    };
    show(m_hoursField, idleHoursBinding().get(), locale);
    show(m_minutesField, idleMinutesBinding().get(), locale);
    m_hoursStepper->refresh();
    m_minutesStepper->refresh();
    m_currentTimeout->setText(QStringLiteral("Current timeout: ") +
                              Preferences::formattedIdleTime(minutesUntilClose(m_view)()));
}

IntBinding GeneralPane::idleHoursBinding() {
    return {[this] { return minutesUntilClose(m_view)() / 60; },
            [this](qint64 hours) { updateIdleTime(hours, minutesUntilClose(m_view)() % 60); }};
}

IntBinding GeneralPane::idleMinutesBinding() {
    return {[this] { return minutesUntilClose(m_view)() % 60; },
            [this](qint64 minutes) { updateIdleTime(minutesUntilClose(m_view)() / 60, minutes); }};
}

void GeneralPane::updateIdleTime(qint64 hours, qint64 minutes) {
    hours = std::clamp<qint64>(hours, 0, 72);
    minutes = std::clamp<qint64>(minutes, 0, 59);
    const qint64 total = std::clamp<qint64>(hours * 60 + minutes, Preferences::kMinIdleMinutes,
                                            Preferences::kMaxIdleMinutes);
    const Preference<qint64> stored = minutesUntilClose(m_view);
    if (stored() == total)
        return;
    stored.set(total);
    m_view.manager().resetAllTimers();
}
