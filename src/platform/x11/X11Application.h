#pragma once

#include "engine/RunningApplication.h"

#include <memory>
#include <optional>

struct X11WorkspaceCore;

// The behaviour behind one RunningApplication on X11: identity from its desktop entry, the
// rules from the process table, and the two quit requests. It remembers the last identity
// it reported, so that a handle of an ended process still names it.
class X11Application final : public RunningApplication::Backend {
public:
    X11Application(std::weak_ptr<X11WorkspaceCore> workspace, ProcessKey key)
        : m_workspace(std::move(workspace))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> applicationId() const override;
    std::optional<QString> displayName() const override;
    std::optional<QString> entryPath() const override;
    bool isHidden() const override;
    AppRole role() const override;
    bool hasStarted() const override;
    // _NET_CLOSE_WINDOW to each main window, only when every one of them accepts it.
    bool requestQuit() override;
    // The server closes the application's connection; a process proven to hold it and
    // surviving that is killed through a pidfd.
    bool forceQuit() override;
    bool acceptsPoliteQuit() const override;
    bool isAskingUser() const override;
    bool hasModalWindow() const override;
    // Its local process, whose PID the X server gave; nothing for a remote client.
    QList<qint64> processIds() const override;
    bool isBusy() const override;

private:
    void refreshIdentity() const;
    // The workspace with its cache brought up to date, for a quit request; nothing when it
    // is gone or the application has no window left.
    std::shared_ptr<X11WorkspaceCore> workspaceForRequest() const;

    std::weak_ptr<X11WorkspaceCore> m_workspace;
    ProcessKey m_key;
    mutable std::optional<QString> m_identifier;
    mutable std::optional<QString> m_name;
    mutable std::optional<QString> m_path;
    // The identity generation the values above were worked out for, so that the steady
    // state costs nothing.
    mutable quint64 m_identityGeneration = ~quint64(0);
};
