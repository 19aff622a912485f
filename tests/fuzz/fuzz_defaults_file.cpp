// The store's file loader on arbitrary bytes: it must never crash, and whatever it accepts
// must survive being written and read again unchanged.
#include "preferences/DefaultsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto entries = DefaultsFile::parse(bytes);
    if (!entries)
        return 0;
    const auto again = DefaultsFile::parse(DefaultsFile::serialize(*entries));
    if (!again || *again != *entries)
        std::abort();
    return 0;
}
