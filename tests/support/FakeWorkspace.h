#pragma once

#include "engine/Workspace.h"
#include "preferences/AppIdentity.h"

#include <QHash>
#include <QList>

#include <memory>
#include <optional>

// Everything a fake application starts with; designated initialisers keep tests short:
//   workspace.add({.name = "Editor", .applicationId = "org.example.Editor"});
struct FakeApp {
    std::optional<QString> name = std::nullopt, applicationId = std::nullopt,
                           entryPath = std::nullopt, executablePath = std::nullopt;
    QString windowTitle = {};
    // Its processes; none given: its own PID alone.
    QList<qint64> processIds = {};
    AppRole policy = AppRole::Regular;
    // askingUser: it shows a dialog; modal: a modal window; busy: a job runs in it.
    bool started = true, hidden = false, acceptsPoliteQuit = true, askingUser = false,
         modal = false, busy = false, fullscreen = false;
};

// A Workspace whose applications are plain records. It records every quit request in
// order; each application can be told whether its requests are delivered and whether a
// delivered polite request really ends it (false: it asked to save and keeps running).
class FakeWorkspace final : public Workspace {
    Q_OBJECT
public:
    using App = RunningApplication;
    enum class RequestKind { Quit, ForceQuit };
    struct Request {
        ProcessKey key;
        RequestKind kind;
        friend bool operator==(const Request&, const Request&) = default;
    };
    struct Entry {
        FakeApp app;
        bool running = true, quitDelivered = true, forceDelivered = true, quitEnds = true;
    };
    // Shared with every handle given out, so a handle outlives the workspace safely.
    struct State {
        QHash<ProcessKey, Entry> entries;
        QList<RunningApplication> order; // running applications, in list order
        RunningApplication frontmost;
        QList<Request> requests;
        std::optional<QString> ownIdentifier = QString::fromLatin1(kAppIdentifier);
        bool ownWindowActive = false;
        QHash<QString, ApplicationEntry> entryFiles;
        QList<InstalledApplication> installed;
        qint64 nextPid = 1000;
        int listings = 0;
        void end(const ProcessKey& key);
    };

    using Workspace::Workspace;
    // The handles held here point back at the state: break the cycle.
    ~FakeWorkspace() override {
        m->order.clear();
        m->frontmost = {};
    }

    QList<RunningApplication> runningApplications() const override {
        ++m->listings;
        return m->order;
    }
    RunningApplication frontmostApplication() const override { return m->frontmost; }
    std::optional<QString> ownApplicationId() const override { return m->ownIdentifier; }
    bool ownWindowIsActive() const override { return m->ownWindowActive; }
    std::optional<ApplicationEntry> entryAt(const QString& path) const override {
        return m->entryFiles.contains(path) ? std::optional(m->entryFiles[path]) : std::nullopt;
    }
    QString entryFileSuffix() const override { return QStringLiteral("desktop"); }
    QList<InstalledApplication> installedApplications() const override { return m->installed; }

    // Starts an application at the end of the list, as a new process.
    RunningApplication add(const FakeApp& app);
    // Ends `app` and starts the same application again in its place, as a new process.
    RunningApplication relaunch(const RunningApplication& app);
    void quit(const RunningApplication& app) { m->end(app.key()); }
    bool isRunning(const RunningApplication& app) const { return m->order.contains(app); }
    // Makes `app` frontmost (null: nothing is), announcing the one that left, then it.
    void activate(const RunningApplication& app);

    void setStarted(const App& a, bool on) { e(a).app.started = on; }
    void setBusy(const App& a, bool on) { e(a).app.busy = on; }
    void setFullscreen(const App& a, bool on) { e(a).app.fullscreen = on; }
    // The application shows a question (a dialog); `modal` when it is a modal one.
    void setAskingUser(const RunningApplication& app, bool asking, bool modal = false) {
        e(app).app.askingUser = asking;
        e(app).app.modal = modal;
    }
    void setQuitDelivered(const App& a, bool on) { e(a).quitDelivered = on; }
    void setForceQuitDelivered(const App& a, bool on) { e(a).forceDelivered = on; }
    void setQuitEndsApp(const RunningApplication& app, bool on) { e(app).quitEnds = on; }

    // Every request made to any application, delivered or not, in order.
    QList<Request> requests() const { return m->requests; }
    QList<RequestKind> requestsFor(const RunningApplication& app) const;

    void setOwnApplicationId(std::optional<QString> id) { m->ownIdentifier = std::move(id); }
    void setOwnWindowIsActive(bool active) { m->ownWindowActive = active; }
    void addEntry(const QString& path, const ApplicationEntry& a) { m->entryFiles[path] = a; }
    void setInstalled(QList<InstalledApplication> apps) { m->installed = std::move(apps); }
    // How often runningApplications() was asked (a sweep asks once).
    int listingCount() const { return m->listings; }

private:
    Entry& e(const RunningApplication& app) { return m->entries[app.key()]; }
    std::shared_ptr<State> m = std::make_shared<State>();
};
