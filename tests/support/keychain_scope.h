#pragma once

#include "platform/in_memory_keychain.h"

namespace orvane::test {

// An in-memory keychain installed as the shared one for one test.
class KeychainScope {
public:
    KeychainScope() { platform::Keychain::overrideShared(&keychain_); }
    ~KeychainScope() { platform::Keychain::overrideShared(nullptr); }
    KeychainScope(const KeychainScope&) = delete;
    KeychainScope& operator=(const KeychainScope&) = delete;

    platform::InMemoryKeychain& operator*() { return keychain_; }
    platform::InMemoryKeychain* operator->() { return &keychain_; }

private:
    platform::InMemoryKeychain keychain_;
};

} // namespace orvane::test
