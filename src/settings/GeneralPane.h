#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class SettingsView;
class Stepper;

namespace LaunchAtLogin {
class Toggle;
}

// A two-way integer view over a stored value.
struct IntBinding {
    std::function<qint64()> get;
    std::function<void(qint64)> set;
};

// Master switch, launch at login, the default for new apps, the idle timeout edited as
// hours and minutes, and the manual quit button of the popover rows.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    explicit GeneralPane(SettingsView& view, QWidget* parent = nullptr);
    ~GeneralPane() override;

    // Hours and minutes of "minutesUntilClose"; writing either goes through updateIdleTime.
    IntBinding idleHoursBinding();
    IntBinding idleMinutesBinding();
    // Clamps hours to 0...72, minutes to 0...59 and the total to 1...4320 minutes; writes
    // and restarts every countdown only when the stored value changes.
    void updateIdleTime(qint64 hours, qint64 minutes);

    QCheckBox* quittingEnabledToggle() const { return m_quittingEnabled; }
    QCheckBox* newAppsEnabledToggle() const { return m_newAppsEnabled; }
    QCheckBox* showCloseButtonToggle() const { return m_showCloseButton; }
    LaunchAtLogin::Toggle* launchAtLoginToggle() const { return m_launchAtLogin; }
    QLineEdit* hoursField() const { return m_hoursField; }
    QLineEdit* minutesField() const { return m_minutesField; }
    Stepper* hoursStepper() const { return m_hoursStepper; }
    Stepper* minutesStepper() const { return m_minutesStepper; }
    QLabel* currentTimeoutLabel() const { return m_currentTimeout; }

private:
    QWidget* buildCoreCard();
    QWidget* buildIdleTimerCard();
    QWidget* buildRowsCard();
    QLineEdit* makeField(const QString& accessibleName, const IntBinding& binding);
    void commitField(QLineEdit* field, const IntBinding& binding);
    // Shows the stored timeout; a field the user is typing in is left alone unless forced.
    void refreshIdleTime(bool force);

    SettingsView& m_view;
    QCheckBox* m_quittingEnabled = nullptr;
    QCheckBox* m_newAppsEnabled = nullptr;
    QCheckBox* m_showCloseButton = nullptr;
    LaunchAtLogin::Toggle* m_launchAtLogin = nullptr;
    QLineEdit* m_hoursField = nullptr;
    QLineEdit* m_minutesField = nullptr;
    Stepper* m_hoursStepper = nullptr;
    Stepper* m_minutesStepper = nullptr;
    QLabel* m_currentTimeout = nullptr;
};
