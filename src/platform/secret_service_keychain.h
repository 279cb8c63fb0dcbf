#pragma once

#include "platform/keychain.h"

#include <QString>

namespace orvane::platform {

// The desktop's keyring through the Secret Service (libsecret). Calls are
// synchronous; a locked keyring or a missing service answers
// InteractionNotAllowed at once instead of raising an unlock prompt.
class SecretServiceKeychain : public Keychain {
public:
    OSStatus add(const KeychainItem& item) override;
    OSStatus copyMatching(const KeychainQuery& query, QByteArray* value) override;
    OSStatus remove(const KeychainQuery& query) override;
    QString errorMessage(OSStatus status) const override;

    // Whether a Secret Service answers on the session bus right now.
    static bool serviceAvailable();

private:
    QString lastError_;
};

} // namespace orvane::platform
