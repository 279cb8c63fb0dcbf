#include "platform/keychain.h"

#include "platform/secret_service_keychain.h"

namespace orvane::platform {

namespace {
Keychain* g_override = nullptr;
}

QString Keychain::errorMessage(OSStatus status) const {
    switch (status) {
    case KeychainStatus::Unimplemented:
        return QStringLiteral("Funktion oder Vorgang nicht implementiert.");
    case KeychainStatus::UserCanceled:
        return QStringLiteral("Der Vorgang wurde vom Benutzer abgebrochen.");
    default:
        return {};
    }
}

Keychain& Keychain::shared() {
    if (g_override)
        return *g_override;
    static SecretServiceKeychain keyring;
    return keyring;
}

void Keychain::overrideShared(Keychain* keychain) {
    g_override = keychain;
}

} // namespace orvane::platform
