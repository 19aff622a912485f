#pragma once

#include "engine/Workspace.h"

#include <QHash>
#include <QList>

#include <memory>
#include <optional>

// Everything a fake application starts with; designated initialisers keep tests short:
//   workspace.add({.name = "Editor", .applicationId = "org.example.Editor"});
struct FakeApp {
    std::optional<QString> name = std::nullopt;
    std::optional<QString> applicationId = std::nullopt;
    std::optional<QString> entryPath = std::nullopt;
    ActivationPolicy policy = ActivationPolicy::Regular;
    bool finishedLaunching = true;
    bool hidden = false;
    bool acceptsPoliteQuit = true;
    bool canForceQuit = true;
    bool askingUser = false; // shows a dialog
    bool modal = false;      // shows a modal window
};

// A Workspace whose applications are plain records. It records every quit request in
// order, and each application can be told whether its requests are delivered and whether
// a delivered polite request really ends it.
class FakeWorkspace final : public Workspace {
    Q_OBJECT
public:
    enum class RequestKind { Terminate, ForceTerminate };
    struct Request {
        ProcessKey key;
        RequestKind kind;
        friend bool operator==(const Request&, const Request&) = default;
    };

    explicit FakeWorkspace(QObject* parent = nullptr);
    ~FakeWorkspace() override;

    // --- Workspace
    QList<RunningApplication> runningApplications() const override;
    RunningApplication frontmostApplication() const override;
    std::optional<QString> ownApplicationId() const override;
    bool ownWindowIsActive() const override;
    std::optional<ApplicationEntry> entryAt(const QString& path) const override;
    QString entryFileSuffix() const override;
    QString iconNameForEntry(const QString& path) const override;
    QList<InstalledApplication> installedApplications() const override { return installed; }

    // --- running applications
    // Starts an application at the end of the list; each gets a new ProcessKey.
    RunningApplication add(const FakeApp& app);
    // Ends `app` and starts the same application again in its place, as a new process.
    RunningApplication relaunch(const RunningApplication& app);
    // The process ends; it leaves the list and, if frontmost, the foreground.
    void quit(const RunningApplication& app);
    bool isRunning(const RunningApplication& app) const;
    // Makes `app` frontmost (a null handle: nothing is); when the owner changes, the
    // previous one is announced through didDeactivateApplication.
    void activate(const RunningApplication& app);

    void setHidden(const RunningApplication& app, bool hidden);
    void setFinishedLaunching(const RunningApplication& app, bool finished);
    void setName(const RunningApplication& app, std::optional<QString> name);
    void setPolicy(const RunningApplication& app, ActivationPolicy policy);
    // The application shows a question (a dialog); `modal` when it is a modal one.
    void setAskingUser(const RunningApplication& app, bool asking, bool modal = false);
    void setAcceptsPoliteQuit(const RunningApplication& app, bool accepts);

    // Quit requests: whether each kind reaches the application (both default to true) and
    // whether a delivered polite request ends it (default true; false models an app that
    // asks to save and keeps running). A delivered forced request always ends it.
    void setTerminateDelivered(const RunningApplication& app, bool delivered);
    void setForceTerminateDelivered(const RunningApplication& app, bool delivered);
    void setTerminateEndsApp(const RunningApplication& app, bool ends);

    // Every request made to any application, delivered or not, in order.
    QList<Request> requests() const;
    QList<RequestKind> requestsFor(const RunningApplication& app) const;
    void clearRequests();

    // --- this program and entries
    void setOwnApplicationId(std::optional<QString> identifier);
    void setOwnWindowIsActive(bool focused);
    void setEntryFileSuffix(const QString& extension);
    // entryAt(path) answers `info`; unregistered paths cannot be read.
    void addEntry(const QString& path, const ApplicationEntry& info);
    // iconNameForEntry(path) answers `icon`; other paths name none.
    void setIconName(const QString& path, const QString& icon);

    // What installedApplications() answers.
    QList<InstalledApplication> installed;

    // How often runningApplications() was asked (a sweep asks once).
    int listingCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
