#pragma once

#include "ToplevelSource.h"

#include "engine/Workspace.h"

#include <memory>

class DesktopEntryIndex;
struct ToplevelCache;

// The Workspace of every desktop whose windows come from a ToplevelSource. It keeps the
// toplevels the source reports, groups them into applications (by proven process, claimed
// process, client connection, else app id), names each application from the facts it was
// first seen with (ApplicationIdentity; again from those facts when the installed entries
// change, never from later ones), tells deactivations and activations apart, finds
// questions and applies the request rules. Nothing here knows X11 or Wayland.
//
// One deactivation through it (ToplevelWorkspace.cpp):
//   1. the source's socket is readable; pump() has the source report what changed
//   2. the changed toplevels are stored and, when a grouping fact changed, regrouped
//   3. updateActivation compares each application's "has the active toplevel" with before,
//      after everything read was applied, so that both halves of a focus change count
//   4. the applications that lost it are posted to didDeactivateApplication, then the one
//      that gained it to didActivateApplication, on the main queue
class ToplevelWorkspace : public Workspace {
    Q_OBJECT
public:
    // Reads the source's first state and follows its socket from then on. `index` must
    // outlive the workspace.
    ToplevelWorkspace(std::unique_ptr<ToplevelSource> source, DesktopEntryIndex& index);
    ~ToplevelWorkspace() override;

    QList<RunningApplication> runningApplications() const override;
    RunningApplication frontmostApplication() const override;
    std::optional<QString> ownApplicationId() const override;
    bool ownWindowIsActive() const override;
    std::optional<ApplicationEntry> entryAt(const QString& path) const override;
    QString entryFileSuffix() const override { return QStringLiteral("desktop"); }
    QString iconNameForEntry(const QString& path) const override;
    bool canForceQuit() const override;
    QList<InstalledApplication> installedApplications() const override;
    QString applicationsFolder() const override;

protected:
    ToplevelSource& source() const;

private:
    std::shared_ptr<ToplevelCache> d;
};
