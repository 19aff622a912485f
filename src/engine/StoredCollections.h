#pragma once

#include "ExcludedApp.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// The stored forms of the engine's collections: compact UTF-8 JSON. A bad entry does not
// spoil the good ones: they load, and the bad ones come back apart, so that the user's
// other choices keep applying while nothing of theirs is thrown away.
namespace StoredCollections {

template <typename T> struct Decoded {
    T values;
    // The entries that could not be read, in the collection's own form; the whole blob
    // when it is not a collection at all; empty when everything was read.
    QByteArray unreadable;
};

// {"Name": true, ...}
Decoded<QHash<QString, bool>> decodeToggleStatus(const QByteArray& blob);
QByteArray encodeToggleStatus(const QHash<QString, bool>& toggles);

// [{"bundleIdentifier": "...", "name": "...", "path": "..."}, ...]
Decoded<QList<ExcludedApp>> decodeExcludedApps(const QByteArray& blob);
QByteArray encodeExcludedApps(const QList<ExcludedApp>& apps);

// {"Name": minutes, ...}: each name's own timeout. A number outside the range reads as its
// bound; what is not a number, and the entries past kMaxAppTimeouts, are unreadable.
inline constexpr int kMaxAppTimeouts = 500;
Decoded<QHash<QString, qint64>> decodeAppTimeouts(const QByteArray& blob);
QByteArray encodeAppTimeouts(const QHash<QString, qint64>& minutes);

// {"Name": day since the epoch, ...}: when each name was last seen running.
QHash<QString, qint64> decodeLastSeen(const QByteArray& blob);
QByteArray encodeLastSeen(const QHash<QString, qint64>& days);

} // namespace StoredCollections
