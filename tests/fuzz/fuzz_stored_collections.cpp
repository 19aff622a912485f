// The decoders of the stored toggle map and exclusion list on arbitrary bytes: never a
// crash, and whatever they accept encodes and decodes back to the same collection.
#include "engine/StoredCollections.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto toggles = StoredCollections::decodeToggleStatus(bytes)) {
        const auto again =
            StoredCollections::decodeToggleStatus(StoredCollections::encodeToggleStatus(*toggles));
        if (!again || *again != *toggles)
            std::abort();
    }
    if (const auto apps = StoredCollections::decodeExcludedApps(bytes)) {
        const auto again =
            StoredCollections::decodeExcludedApps(StoredCollections::encodeExcludedApps(*apps));
        if (!again || *again != *apps)
            std::abort();
    }
    return 0;
}
