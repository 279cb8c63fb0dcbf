#include "platform/in_memory_keychain.h"

#include "platform/biometrics.h"

#include <algorithm>

namespace orvane::platform {

bool InMemoryKeychain::matches(const KeychainItem& item, const KeychainQuery& query) {
    return item.service == query.service && item.account == query.account &&
           item.synchronizable == query.synchronizable.value_or(false);
}

std::optional<OSStatus> InMemoryKeychain::takeFailure(Operation operation) {
    if (failEvery_)
        return failEvery_;
    const auto it = std::find_if(failures_.begin(), failures_.end(),
                                 [operation](const auto& f) { return f.first == operation; });
    if (it == failures_.end())
        return std::nullopt;
    const OSStatus status = it->second;
    failures_.erase(it);
    return status;
}

bool InMemoryKeychain::answers(std::unique_lock<std::mutex>& lock) {
    wake_.wait(lock, [this] { return !hanging_ || interrupted(); });
    return !interrupted();
}

void InMemoryKeychain::onInterrupt() {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

void InMemoryKeychain::failEvery(std::optional<OSStatus> status) {
    std::lock_guard lock(mutex_);
    failEvery_ = status;
}

void InMemoryKeychain::setHanging(bool hanging) {
    std::lock_guard lock(mutex_);
    hanging_ = hanging;
    wake_.notify_all();
}

void InMemoryKeychain::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

OSStatus InMemoryKeychain::add(const KeychainItem& item) {
    std::unique_lock lock(mutex_);
    const KeychainQuery identity{item.service, item.account, item.synchronizable};
    OSStatus status = KeychainStatus::Success;
    if (!answers(lock)) {
        status = KeychainStatus::InteractionNotAllowed;
    } else if (const auto failure = takeFailure(Operation::Add)) {
        status = *failure;
    } else if (std::any_of(items_.begin(), items_.end(),
                           [&](const KeychainItem& i) { return matches(i, identity); })) {
        status = KeychainStatus::DuplicateItem;
    } else {
        items_.push_back(item);
        stored_.push_back({item, item.biometryCurrentSet ? Biometrics::shared().enrollmentState()
                                                         : QByteArray()});
    }
    calls_.push_back({Operation::Add, identity, status});
    return status;
}

OSStatus InMemoryKeychain::copyMatching(const KeychainQuery& query, QByteArray* value) {
    std::unique_lock lock(mutex_);
    OSStatus status = KeychainStatus::ItemNotFound;
    if (!answers(lock)) {
        status = KeychainStatus::InteractionNotAllowed;
    } else if (const auto failure = takeFailure(Operation::CopyMatching)) {
        status = *failure;
    } else {
        const auto it = std::find_if(stored_.begin(), stored_.end(),
                                     [&](const Stored& s) { return matches(s.item, query); });
        if (it != stored_.end()) {
            status = it->item.biometryCurrentSet
                         ? releaseProtected(it->enrollment, query.authenticationReason)
                         : KeychainStatus::Success;
            if (status == KeychainStatus::Success && value)
                *value = it->item.value;
        }
    }
    calls_.push_back({Operation::CopyMatching, query, status});
    return status;
}

OSStatus InMemoryKeychain::remove(const KeychainQuery& query) {
    std::unique_lock lock(mutex_);
    OSStatus status = KeychainStatus::ItemNotFound;
    if (!answers(lock)) {
        status = KeychainStatus::InteractionNotAllowed;
    } else if (const auto failure = takeFailure(Operation::Remove)) {
        status = *failure;
    } else {
        std::erase_if(stored_, [&](const Stored& s) { return matches(s.item, query); });
        const auto removed =
            std::erase_if(items_, [&](const KeychainItem& i) { return matches(i, query); });
        if (removed > 0)
            status = KeychainStatus::Success;
    }
    calls_.push_back({Operation::Remove, query, status});
    return status;
}

void InMemoryKeychain::failNext(Operation operation, OSStatus status) {
    std::lock_guard lock(mutex_);
    failures_.emplace_back(operation, status);
}

void InMemoryKeychain::setErrorMessage(OSStatus status, QString text) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(status, std::move(text));
}

QString InMemoryKeychain::errorMessage(OSStatus status) const {
    std::lock_guard lock(mutex_);
    for (const auto& [code, text] : messages_)
        if (code == status)
            return text;
    return Keychain::errorMessage(status);
}

} // namespace orvane::platform
