#pragma once

#include "platform/keychain.h"

#include <QString>

#include <mutex>

typedef struct _GCancellable GCancellable;

namespace orvane::platform {

// The desktop's keyring through the Secret Service (libsecret). Calls are
// synchronous and run on the keyring's own thread; a locked keyring or a
// missing service answers InteractionNotAllowed at once instead of raising an
// unlock prompt, and one that does not answer is ended by interrupt().
class SecretServiceKeychain : public Keychain {
public:
    OSStatus add(const KeychainItem& item) override;
    OSStatus copyMatching(const KeychainQuery& query, QByteArray* value) override;
    OSStatus remove(const KeychainQuery& query) override;
    QString errorMessage(OSStatus status) const override;

    // Whether a Secret Service answers on the session bus right now.
    static bool serviceAvailable();

    // The cancellable of the call under way, cancelled by interrupt().
    class Call;

protected:
    void onInterrupt() override;

private:
    void noteError(const QString& text);

    mutable std::mutex mutex_;
    GCancellable* current_ = nullptr; // guarded by mutex_
    QString lastError_;               // guarded by mutex_
};

} // namespace orvane::platform
