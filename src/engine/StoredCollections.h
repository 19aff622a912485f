#pragma once

#include "ExcludedApp.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The stored forms of the engine's two collections: compact UTF-8 JSON. Decoding is all or
// nothing: any fault (not JSON, wrong shape, one bad member) gives nothing.
namespace StoredCollections {

// {"Name": true, ...}
std::optional<QHash<QString, bool>> decodeToggleStatus(const QByteArray& blob);
QByteArray encodeToggleStatus(const QHash<QString, bool>& toggles);

// [{"bundleIdentifier": "...", "name": "...", "path": "..."}, ...]
std::optional<QList<ExcludedApp>> decodeExcludedApps(const QByteArray& blob);
QByteArray encodeExcludedApps(const QList<ExcludedApp>& apps);

} // namespace StoredCollections
