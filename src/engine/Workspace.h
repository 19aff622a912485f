#pragma once

#include "RunningApplication.h"

#include <QDir>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

class QWindow;

// What a bundle location holds: its identifier and its information values. On Linux a
// bundle is a .desktop entry: "CFBundleDisplayName" is its localised Name, "CFBundleName"
// its plain Name.
struct BundleInfo {
    std::optional<QString> bundleIdentifier;
    QVariantMap infoDictionary;
};

// An application the desktop offers to start, as the application chooser lists it.
struct InstalledApplication {
    QString path;     // its bundle location, as bundleAt() reads it
    QString name;     // localised display name
    QString iconName; // as iconNameForEntry() gives it
};

// The engine's one view of the platform. Every call happens on the main thread.
class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    // Running applications, one handle each, in the platform's order.
    virtual QList<RunningApplication> runningApplications() const = 0;
    // The application owning the foreground; a null handle when there is none.
    virtual RunningApplication frontmostApplication() const = 0;
    // This program's own identifier; its own process is reported with it.
    virtual std::optional<QString> ownBundleIdentifier() const = 0;
    // True while one of this program's own windows is key or main (has the focus).
    virtual bool ownWindowIsKeyOrMain() const = 0;
    // The bundle at a location; nothing when it cannot be read as one.
    virtual std::optional<BundleInfo> bundleAt(const QString& path) const = 0;
    // The file extension of an application bundle on this platform, lower case:
    // "desktop" on Linux, "app" on macOS.
    virtual QString applicationBundleExtension() const = 0;
    // Brings one of this program's own windows, just shown and raised by the toolkit, in
    // front of other applications' windows where the platform needs more than the
    // toolkit's request. Nothing by default.
    virtual void activateOwnWindow(QWindow* window) { Q_UNUSED(window) }
    // The icon a bundle names: an icon-theme name or an absolute image path; empty when
    // it names none (the views then draw a generic application icon).
    virtual QString iconNameForEntry(const QString& path) const {
        Q_UNUSED(path);
        return {};
    }
    // The applications a desktop menu would show; none by default.
    virtual QList<InstalledApplication> installedApplications() const { return {}; }
    // Where the application chooser starts ("/Applications").
    virtual QString applicationsFolder() const { return QDir::homePath(); }

signals:
    // One emission per application leaving the foreground, on the main thread. A null
    // handle means the platform could not say which application it was.
    void didDeactivateApplication(const RunningApplication& app);
};
