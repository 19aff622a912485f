#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "LaunchAtLogin/Toggle.h"
#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Master switch, launch at login, the default for new apps, the idle timeout edited as
// hours and minutes, and the manual quit button of the popover rows.
class GeneralPane : public QWidget {
public:
    GeneralPane(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin)
        : m_manager(manager)
        , m_launchAtLogin(launchAtLogin)
        , m_timeout(manager.defaults(), Keys::minutesUntilClose) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(SettingsStyle::kPaneSpacing);
        layout->addWidget(coreCard());
        layout->addWidget(idleTimerCard());
        layout->addWidget(new PreferenceGroup(
            QStringLiteral("App rows"), QStringLiteral("x.circle"),
            SettingsControls::makeToggle(QStringLiteral("Show manual quit button in app rows"),
                                         {store(), Keys::showCloseButton}),
            store(), this));
    }

private:
    UserDefaults& store() const { return m_manager.defaults(); }

    QWidget* coreCard() {
        auto* content = new QWidget;
        auto* rows = new QVBoxLayout(content);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->addWidget(SettingsControls::makeToggle(QStringLiteral("Enable automatic quitting"),
                                                     {store(), Keys::quittingEnabled}));
        rows->addWidget(new LaunchAtLogin::Toggle(m_launchAtLogin));
        rows->addWidget(SettingsControls::makeToggle(
            QStringLiteral("New apps are enabled by default"), {store(), Keys::newAppsEnabled}));
        return new PreferenceGroup(QStringLiteral("Core"), QStringLiteral("power"), content,
                                   store(), this);
    }

    QWidget* idleTimerCard() {
        auto* content = new QWidget;
        auto* rows = new QVBoxLayout(content);
        rows->setContentsMargins(0, 0, 0, 0);
        const IntRange& range = Keys::minutesUntilClose.range();
        m_hours = timeField(QStringLiteral("Hours"), QStringLiteral("h"),
                            static_cast<int>(range.maximum / 60));
        m_minutes = timeField(QStringLiteral("Minutes"), QStringLiteral("m"), 59);
        connect(m_hours, &QSpinBox::valueChanged, this,
                [this](int hours) { updateIdleTime(hours, m_timeout() % 60); });
        connect(m_minutes, &QSpinBox::valueChanged, this,
                [this](int minutes) { updateIdleTime(m_timeout() / 60, minutes); });
        auto* fields = new QWidget;
        auto* fieldsRow = new QHBoxLayout(fields);
        fieldsRow->setContentsMargins(0, 0, 0, 0);
        fieldsRow->addWidget(m_hours);
        fieldsRow->addWidget(m_minutes);
        rows->addWidget(SettingsControls::makeRow(
            QStringLiteral("Quit after"), 130, fields,
            SettingsStyle::makeLabel(QStringLiteral("inactive"), SettingsStyle::bodyFont(), true)));
        auto* current = SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), true);
        rows->addWidget(current);
        SettingsControls::bindRefresh(this, store(), {m_timeout.name()}, [this, current] {
            current->setText(QStringLiteral("Current timeout: ") +
                             Preferences::formattedIdleTime(m_timeout()));
            showStored();
        });
        return new PreferenceGroup(QStringLiteral("Idle timer"), QStringLiteral("clock"), content,
                                   store(), this);
    }

    static QSpinBox* timeField(const QString& name, const QString& suffix, int maximum) {
        auto* field = new ClampingSpinBox;
        field->setAccessibleName(name);
        field->setRange(0, maximum);
        field->setSuffix(suffix);
        field->setAlignment(Qt::AlignRight);
        field->setKeyboardTracking(false);
        return field;
    }

    // A field the user is typing in keeps the typing when the value is written elsewhere.
    static void show(QSpinBox* field, qint64 value) {
        if (field->hasFocus() && field->cleanText() != field->locale().toString(field->value()))
            return;
        const QSignalBlocker blocker(field);
        field->setValue(static_cast<int>(value));
    }

    // One clamped write of hours and minutes; only a change restarts every countdown.
    void updateIdleTime(qint64 hours, qint64 minutes) {
        const qint64 total = Keys::minutesUntilClose.range().clamp(
            std::clamp<qint64>(hours, 0, m_hours->maximum()) * 60 +
            std::clamp<qint64>(minutes, 0, 59));
        if (m_timeout() != total) {
            m_timeout.set(total);
            m_manager.resetAllTimers();
        }
        showStored(); // also when the clamp kept the stored value
    }

    // The stored timeout as every reader sees it, in its key's range.
    void showStored() {
        show(m_hours, m_timeout() / 60);
        show(m_minutes, m_timeout() % 60);
    }

    RunningAppsManager& m_manager;
    LaunchAtLogin::Observable& m_launchAtLogin;
    Preference<qint64> m_timeout;
    QSpinBox* m_hours = nullptr;
    QSpinBox* m_minutes = nullptr;
};

} // namespace

QWidget* Panes::general(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin) {
    return new GeneralPane(manager, launchAtLogin);
}
