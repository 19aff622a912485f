#pragma once

#include "RunningApplication.h"

#include <QDir>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QWindow;

// What an application's entry (on Linux a .desktop file) says about it.
struct ApplicationEntry {
    QString applicationId;
    QString name; // localised where the entry has a translation
};

// An application the desktop offers to start, as the application chooser lists it.
struct InstalledApplication {
    QString path;     // its entry location, as entryAt() reads it
    QString name;     // localised display name
    QString iconName; // as iconNameForEntry() gives it
    QString id;       // its application identifier
    // What else a search finds it by: its generic name ("Text Editor"), keywords, program.
    QStringList keywords;
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
    virtual std::optional<QString> ownApplicationId() const = 0;
    // True while one of this program's own windows has the focus.
    virtual bool ownWindowIsActive() const = 0;
    // The entry at a location; nothing when it cannot be read as one.
    virtual std::optional<ApplicationEntry> entryAt(const QString& path) const = 0;
    // The file extension of an application entry on this platform, lower case.
    virtual QString entryFileSuffix() const = 0;
    // Brings one of this program's own windows, just shown and raised by the toolkit, in
    // front of other applications' windows where the platform needs more than the
    // toolkit's request. Nothing by default.
    virtual void activateOwnWindow(QWindow* window) { Q_UNUSED(window) }
    // The icon an entry names: an icon-theme name or an absolute image path; empty when
    // it names none (the views then draw a generic application icon).
    virtual QString iconNameForEntry(const QString& path) const {
        Q_UNUSED(path);
        return {};
    }
    // Whether this desktop lets any application be forced to quit.
    virtual bool canForceQuit() const { return true; }
    // The applications a desktop menu would show; none by default.
    virtual QList<InstalledApplication> installedApplications() const { return {}; }
    // Where the application chooser starts.
    virtual QString applicationsFolder() const { return QDir::homePath(); }

signals:
    // One emission per application leaving the foreground, on the main thread. A null
    // handle means the platform could not say which application it was.
    void didDeactivateApplication(const RunningApplication& app);
    // One emission per application coming to the foreground, on the main thread, after the
    // deactivation of the one that left it.
    void didActivateApplication(const RunningApplication& app);
};
