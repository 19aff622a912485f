#pragma once

#include "engine/RunningApplication.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ClosedToday;
class DesktopNotifier;
class RunningAppsManager;

// What the user is told around a close. Before: "closingNoticeMinutes" ahead of an
// application's due time, one notification for everything due within the same minute, with
// "Keep open" (a fresh countdown) and "Never close" (its switch off). After: one notification
// per sweep for what polite requests closed, with "Reopen", and each closed application
// listed in the popover's "Closed today".
//
// Told only about applications the sweep will really ask: not in front, switched on, not
// waiting for the user and askable, with the due time from the engine's own countdown. Each
// due time is told once; a new due time (a fresh countdown, another timeout) is told anew.
class ClosingNotices : public QObject {
    Q_OBJECT
public:
    // Starts an application from its desktop entry; true when it started.
    using Launcher = std::function<bool(const QString& entryPath)>;

    ClosingNotices(RunningAppsManager& manager, DesktopNotifier& notifier, ClosedToday& closed,
                   Launcher launcher = {}, QObject* parent = nullptr);

    // "7 h 55 min", "8 h", "12 min": how long an application was not used.
    static QString spokenDuration(double seconds);

    // Looks for applications entering the notice lead; runs after each engine publish.
    void check();

private:
    struct Candidate {
        RunningApplication app;
        double due;
    };
    void scheduleCheck();
    void tell(const QList<Candidate>& group, double now);
    void applicationClosed(const RunningApplication& app, double idleSeconds);
    void offerReopen();
    void actionInvoked(uint id, const QString& key);

    RunningAppsManager* m_manager;
    DesktopNotifier* m_notifier;
    ClosedToday* m_closed;
    Launcher m_launch;
    bool m_checkScheduled = false;
    // The due time (engine clock) each application was told about.
    QHash<RunningApplication, double> m_toldDue;
    // Our notices before closing, by notification id, with what each is about.
    QHash<uint, QList<RunningApplication>> m_notices;
    // "Closed today" entries of the current sweep, not offered yet.
    QList<int> m_justClosed;
    // Our notices after closing, by notification id, with their "Closed today" entries.
    QHash<uint, QList<int>> m_offers;
};
