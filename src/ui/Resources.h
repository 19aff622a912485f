#pragma once

// The bundled artwork and symbol drawings live in resources compiled into this static
// library; they must be registered before the first lookup.
namespace Resources {
void ensureLoaded();
}
