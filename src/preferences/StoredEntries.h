#pragma once

#include "DefaultsFile.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>

// How a stored JSON collection takes in another process's writes: entry by entry, so that
// each process changes only the entries it changed itself. An object's entries are its
// members; an array's are its elements, each known by its member `elementId`.
struct EntryMerge {
    enum class Form { Whole, Members, Elements };
    Form form = Form::Whole;
    const char* elementId = nullptr;
};

// The stored JSON collections taken entry by entry (see EntryMerge): what this process
// changed, put onto what another process wrote meanwhile; and what the store forgets
// first when the file would grow past what it reads back.
namespace StoredEntries {

// Entry -> its new JSON value, or nothing when it was taken out.
using Delta = QMap<QString, std::optional<QJsonValue>>;

// The entries that differ from `before` to `after`; nothing when either is not a
// collection of the form (then the value is written whole). Empty bytes are an empty
// collection.
std::optional<Delta> delta(const EntryMerge& merge, const QByteArray& before,
                           const QByteArray& after);
// `onto` with the entries of `delta` put in or taken out, other entries untouched. An
// `onto` that is not a collection of the form counts as an empty one.
QByteArray apply(const EntryMerge& merge, const Delta& delta, const QByteArray& onto);

// Names unseen this long before the newest sighting may be forgotten to keep the file in
// bounds.
inline constexpr qint64 kForgetAfterDays = 180;
inline constexpr int kForgetSteps = 2;
// Shrinks `entries`, the least missed first. Step 0 forgets the per-application switches
// that equal "newAppsEnabled" (they read the same without an entry); step 1 the names
// unseen for kForgetAfterDays. A last-seen day goes with its switch. Returns how many
// names the step forgot.
int forget(DefaultsFile::Entries& entries, int step);

} // namespace StoredEntries
