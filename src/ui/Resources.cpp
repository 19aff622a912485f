#include "Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initIdlewatchResources() {
    Q_INIT_RESOURCE(symbols);
    Q_INIT_RESOURCE(artwork);
}

namespace Resources {
void ensureLoaded() {
    static const bool loaded = (initIdlewatchResources(), true);
    Q_UNUSED(loaded);
}
} // namespace Resources
