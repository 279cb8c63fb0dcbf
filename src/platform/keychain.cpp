#include "platform/keychain.h"

#include "platform/biometrics.h"
#include "platform/in_memory_keychain.h"
#include "platform/secret_service_keychain.h"

namespace orvane::platform {

namespace {
// Set on the main thread, read on the keyring's.
std::atomic<Keychain*> g_override = nullptr;
} // namespace

void Keychain::interrupt() {
    interrupted_ = true;
    onInterrupt();
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
    if (Keychain* installed = g_override.load())
        return *installed;
    // A trial run (scripts/run --demo) keeps its token away from the user's
    // keyring: in memory, gone when the program ends.
    if (qgetenv("ORVANE_DEMO") == "1") {
        static InMemoryKeychain memory;
        return memory;
    }
    static SecretServiceKeychain keyring;
    return keyring;
}

void Keychain::overrideShared(Keychain* keychain) {
    g_override = keychain;
}

OSStatus Keychain::releaseProtected(const QByteArray& storedEnrollment, const QString& reason) {
    Biometrics& biometrics = Biometrics::shared();
    if (biometrics.enrollmentState() != storedEnrollment)
        return KeychainStatus::ItemNotFound;
    switch (biometrics.evaluate(reason)) {
    case BiometricOutcome::Success:
        return KeychainStatus::Success;
    case BiometricOutcome::Cancelled:
        return KeychainStatus::UserCanceled;
    case BiometricOutcome::Failed:
        break;
    }
    return KeychainStatus::AuthFailed;
}

} // namespace orvane::platform
