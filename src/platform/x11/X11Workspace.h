#pragma once

#include "engine/Workspace.h"

#include <QByteArray>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The workspace of an X11 desktop with an EWMH window manager, over its own xcb
// connection. A per-window cache, kept current from PropertyNotify, CreateNotify,
// DestroyNotify and client-list changes, answers every query without a round trip.
class X11Workspace : public Workspace {
    Q_OBJECT
public:
    // Connects to `display` (empty: $DISPLAY). Nothing, with `error` set to one line for
    // the user, when no X server can be reached.
    static std::unique_ptr<X11Workspace> connect(const QByteArray& display, QString* error,
                                                 DesktopEntryIndex* index = nullptr);
    ~X11Workspace() override;

    QList<RunningApplication> runningApplications() const override;
    RunningApplication frontmostApplication() const override;
    std::optional<QString> ownBundleIdentifier() const override;
    bool ownWindowIsKeyOrMain() const override;
    std::optional<BundleInfo> bundleAt(const QString& path) const override;
    QString applicationBundleExtension() const override { return QStringLiteral("desktop"); }

    QString iconNameForEntry(const QString& path) const override;
    QString applicationsFolder() const override;

    // X requests sent since the connection opened (for the steady-state benchmark).
    quint64 requestCount() const;

private:
    X11Workspace();
    struct Private;
    std::unique_ptr<Private> d;
};
