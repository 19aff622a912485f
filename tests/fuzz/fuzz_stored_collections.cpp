// The decoders of the stored toggle map and exclusion list on arbitrary bytes: never a
// crash, and what they read encodes and decodes back to the same collection. The store's
// per-entry merge puts the entries changed from one collection to another onto the first.
#include "engine/StoredCollections.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/StoredEntries.h"

#include <cstdint>
#include <cstdlib>

namespace {
template <typename Decode, typename Encode>
void roundTrip(const QByteArray& bytes, Decode decode, Encode encode) {
    const auto read = decode(bytes);
    const auto again = decode(encode(read.values));
    if (again.values != read.values || !again.unreadable.isEmpty())
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    roundTrip(bytes, StoredCollections::decodeToggleStatus, StoredCollections::encodeToggleStatus);
    roundTrip(bytes, StoredCollections::decodeExcludedApps, StoredCollections::encodeExcludedApps);
    // The first half changed into the second, put onto the first: the second's entries.
    const QByteArray before = bytes.first(bytes.size() / 2), after = bytes.sliced(bytes.size() / 2);
    for (const EntryMerge& merge : {Keys::toggleStatus.merge, Keys::excludedApps.merge}) {
        if (const auto delta = StoredEntries::delta(merge, before, after)) {
            const QByteArray merged = StoredEntries::apply(merge, *delta, before);
            if (StoredEntries::delta(merge, merged, after)
                    .value_or(StoredEntries::Delta{{"x", {}}})
                    .size() != 0)
                std::abort();
        }
    }
    return 0;
}
