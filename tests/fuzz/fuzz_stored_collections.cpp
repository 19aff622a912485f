// The decoders of the stored toggle map and exclusion list on arbitrary bytes: never a
// crash, and what they read encodes and decodes back to the same collection.
#include "engine/StoredCollections.h"

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
    return 0;
}
