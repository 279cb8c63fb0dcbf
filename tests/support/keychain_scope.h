#pragma once

#include "platform/in_memory_keychain.h"
#include "platform/keychain_thread.h"

namespace orvane::test {

// An in-memory keychain installed as the shared one for one test.
class KeychainScope {
public:
    KeychainScope() { platform::Keychain::overrideShared(&keychain_); }
    ~KeychainScope() {
        // Nothing of this case may still run in the keychain that goes now.
        platform::KeychainThread& thread = platform::KeychainThread::shared();
        thread.abandon();
        thread.setAnswerTime(platform::KeychainThread::kAnswerTime);
        platform::Keychain::overrideShared(nullptr);
    }
    // Every keyring job asked for so far has ended and been answered.
    static void settle() { platform::KeychainThread::shared().waitUntilIdle(); }
    KeychainScope(const KeychainScope&) = delete;
    KeychainScope& operator=(const KeychainScope&) = delete;

    platform::InMemoryKeychain& operator*() { return keychain_; }
    platform::InMemoryKeychain* operator->() { return &keychain_; }

private:
    platform::InMemoryKeychain keychain_;
};

} // namespace orvane::test
