#pragma once

#include "engine/RunningApplication.h"

#include <QWidget>

#include <optional>

class AccentCheckBox;
class ElidedLabel;
class QAction;
class QActionGroup;
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
    // Shows the main window's title under the name, to tell apart rows of one name.
    void setTitleShown(bool shown);

    // The toggle key: the display name, or the empty text when there is none.
    QString toggleKey() const;
    QString displayName() const; // "Unknown" when the application has none
    qint64 remainingSeconds() const;
    // formatTime with the stored style and seconds preference.
    QString formatTime(qint64 seconds) const;

    // For tests: the parts as currently shown.
    AccentCheckBox* checkbox() const { return m_checkbox; }
    ElidedLabel* nameLabel() const { return m_name; }
    ElidedLabel* titleLabel() const { return m_title; }
    // The context menu's "Exclude".
    QAction* excludeAction() const { return m_exclude; }
    // The context menu's "Timeout" choices; each action's data is its minutes, or nothing
    // for the default; the last one asks for a number.
    QActionGroup* timeoutChoices() const { return m_timeouts; }
    // What its processes hold, refreshed at most every kMemoryRefreshSeconds.
    QLabel* memoryLabel() const { return m_memory; }
    static constexpr int kMemoryRefreshSeconds = 10;
    QLabel* iconLabel() const { return m_icon; }
    QLabel* countdownLabel() const { return m_countdown; }
    QToolButton* restartButton() const { return m_restart; }
    QToolButton* quitButton() const { return m_quit; }

private:
    void restartCountdown();
    void quitNow();
    void chooseTimeout(QAction* choice);

    RunningApplication m_app;
    RunningAppsManager* m_manager;
    AccentCheckBox* m_checkbox;
    QLabel* m_icon;
    ElidedLabel* m_name;
    ElidedLabel* m_title;
    QAction* m_exclude;
    QActionGroup* m_timeouts;
    QLabel* m_memory;
    // When the memory shown was read (Clock seconds); none yet.
    std::optional<double> m_memoryRead;
    QLabel* m_countdown;
    QToolButton* m_restart;
    QToolButton* m_quit;
    int m_iconEdge = 0;
    QColor m_glyphColor;
};
