// The store's file loader on arbitrary bytes: it must never crash, and whatever it accepts
// must survive being written and read again unchanged.
#include "preferences/DefaultsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto document = DefaultsFile::parse(bytes);
    if (!document)
        return 0;
    const auto again = DefaultsFile::parse(DefaultsFile::serialize(*document));
    if (!again || again->entries != document->entries || again->others != document->others ||
        again->isNewer() != document->isNewer() ||
        (document->isNewer() && again->version != document->version))
        std::abort();
    return 0;
}
