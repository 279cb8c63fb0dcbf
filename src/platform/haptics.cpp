#include "platform/haptics.h"

namespace orvane::platform {

namespace {
Haptics* g_override = nullptr;
}

Haptics& Haptics::shared() {
    if (g_override)
        return *g_override;
    static NoHaptics none;
    return none;
}

void Haptics::overrideShared(Haptics* haptics) {
    g_override = haptics;
}

} // namespace orvane::platform
