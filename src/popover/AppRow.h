#pragma once

#include "engine/RunningApplication.h"

#include <QWidget>

class AccentCheckBox;
class ElidedLabel;
class QLabel;
class QToolButton;
class RunningAppsManager;

// One tracked application in the popover: its on/off checkbox (the engine's toggle for
// its name), icon, name, time left, a restart button and an optional quit-now button.
// It keeps no state of its own: refresh() re-reads the engine and the store.
class AppRow : public QWidget {
    Q_OBJECT
public:
    AppRow(RunningApplication app, RunningAppsManager& manager, QWidget* parent = nullptr);

    const RunningApplication& app() const { return m_app; }
    // Re-reads everything the row shows.
    void refresh();

    // The toggle key: the display name, or the empty text when there is none.
    QString toggleKey() const;
    QString displayName() const; // "Unknown" when the application has none
    qint64 remainingSeconds() const;
    // formatTime with the stored style and seconds preference.
    QString formatTime(qint64 seconds) const;

    // For tests: the parts as currently shown.
    AccentCheckBox* checkbox() const { return m_checkbox; }
    ElidedLabel* nameLabel() const { return m_name; }
    QLabel* countdownLabel() const { return m_countdown; }
    QToolButton* restartButton() const { return m_restart; }
    QToolButton* quitButton() const { return m_quit; }

private:
    void restartCountdown();
    void quitNow();

    RunningApplication m_app;
    RunningAppsManager* m_manager;
    AccentCheckBox* m_checkbox;
    QLabel* m_icon;
    ElidedLabel* m_name;
    QLabel* m_countdown;
    QToolButton* m_restart;
    QToolButton* m_quit;
    int m_iconEdge = 0;
    QColor m_glyphColor;
};
