// The Desktop Entry parser on arbitrary bytes: never a crash or sanitizer report, and
// every accessor of an accepted entry answers.
#include "platform/linux/DesktopEntryFile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto entry = DesktopEntryFile::parse(bytes);
    if (!entry)
        return 0;
    for (const char* key : {"Name", "Exec", "Icon", "StartupWMClass", "Type", "Categories"}) {
        const QString name = QString::fromLatin1(key);
        (void)entry->string(name);
        (void)entry->list(name);
        (void)entry->localeString(name, QStringLiteral("sr_RS@latin"));
        (void)entry->localeString(name, QStringLiteral("de"));
    }
    (void)entry->execProgram();
    (void)entry->isHidden();
    (void)entry->noDisplay();
    (void)DesktopEntryFile::splitExec(entry->string(QStringLiteral("Exec")));
    return 0;
}
