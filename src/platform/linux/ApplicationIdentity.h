#pragma once

#include "DesktopEntryIndex.h"

#include <QString>
#include <QStringList>

#include <optional>

// One application's identity, worked out once from what its windows and its process say:
// the desktop entry that names it, else its class or app id, else its executable. Every
// backend uses this one resolver, so an exclusion or a switch made anywhere holds on every
// desktop.
namespace ApplicationIdentity {

struct Facts {
    QString desktopEntry{}; // an entry the desktop named itself (_KDE_NET_WM_DESKTOP_FILE)
    QString appId{};        // Wayland app id, _GTK_APPLICATION_ID
    QString wmClass{};      // WM_CLASS class
    QString wmInstance{};   // WM_CLASS instance
    // Of the process, where it is known (readProcess).
    QString executable{};      // /proc/PID/exe
    QStringList commandLine{}; // /proc/PID/cmdline
    QString flatpakId{};       // [Application] name of its /.flatpak-info
    QString snapName{};        // snap.NAME.APP of its cgroup, as NAME_APP
};

struct Identity {
    std::optional<DesktopApplication> entry;
    QString id;           // the entry's ID, else the class or app id, else the executable
    QString name;         // the entry's name, else the class or app id
    QString executable{}; // the executable's path, where known
};

// Fills the process's part of `facts` from /proc; a process that is gone adds nothing.
void readProcess(qint64 pid, Facts& facts);
// The Flatpak app id in the text of a /.flatpak-info file; the snap (NAME_APP) in the text of
// /proc/PID/cgroup. Empty when there is none.
QString flatpakIdFromInfo(const QByteArray& info);
QString snapFromCgroup(const QByteArray& cgroup);

// The entry, first hit wins: the entry the desktop named; the ID equal to the Flatpak id,
// the snap, the app id, the class or the instance (any case); the same with reverse-DNS
// prefixes left out on either side; StartupWMClass equal to the class, the instance or the
// app id; the Exec or TryExec program equal to the program run or the executable.
std::optional<DesktopApplication> findEntry(const DesktopEntryIndex& index, const Facts& facts);
Identity resolve(const DesktopEntryIndex& index, const Facts& facts);

} // namespace ApplicationIdentity
