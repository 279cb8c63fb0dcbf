#include "platform/biometrics.h"

namespace orvane::platform {

namespace {
Biometrics* g_override = nullptr;
}

Biometrics& Biometrics::shared() {
    if (g_override)
        return *g_override;
    static NoBiometrics none;
    return none;
}

void Biometrics::overrideShared(Biometrics* biometrics) {
    g_override = biometrics;
}

} // namespace orvane::platform
