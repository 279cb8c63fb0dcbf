#pragma once

#include "platform/keychain.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace orvane::platform {

// A keychain in memory, for tests: it records every call and can be told to
// answer a given status on coming calls, or to answer none, as a keyring
// daemon that was stopped. Calls may come from any thread.
class InMemoryKeychain : public Keychain {
public:
    enum class Operation { Add, CopyMatching, Remove };

    struct Call {
        Operation operation;
        KeychainQuery query;
        OSStatus status;
    };

    OSStatus add(const KeychainItem& item) override;
    OSStatus copyMatching(const KeychainQuery& query, QByteArray* value) override;
    OSStatus remove(const KeychainQuery& query) override;
    QString errorMessage(OSStatus status) const override;

    // The next call of `operation` answers `status` and changes nothing.
    void failNext(Operation operation, OSStatus status);
    // Text the store gives for `status`, as a platform message would.
    void setErrorMessage(OSStatus status, QString text);
    // While set, every call answers `status` and changes nothing, as a
    // locked keyring does.
    void failEvery(std::optional<OSStatus> status);
    // While hanging, every call waits until it is interrupted, then answers
    // InteractionNotAllowed and changes nothing.
    void setHanging(bool hanging);

    // Read while no call runs (the keyring's thread idle).
    const std::vector<KeychainItem>& items() const { return items_; }
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls();

protected:
    void onInterrupt() override;

private:
    // Held for the whole call; false when the call is to answer nothing.
    bool answers(std::unique_lock<std::mutex>& lock);
    std::optional<OSStatus> takeFailure(Operation operation);
    static bool matches(const KeychainItem& item, const KeychainQuery& query);

    struct Stored {
        KeychainItem item;
        QByteArray enrollment;
    };
    std::vector<Stored> stored_;
    std::vector<KeychainItem> items_; // mirror of stored_ for inspection
    std::vector<Call> calls_;
    std::deque<std::pair<Operation, OSStatus>> failures_;
    std::vector<std::pair<OSStatus, QString>> messages_;
    bool hanging_ = false;
    std::optional<OSStatus> failEvery_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
};

} // namespace orvane::platform
