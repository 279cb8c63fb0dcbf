#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

namespace orvane::platform {

using OSStatus = std::int32_t;

// Status codes of keychain operations; callers turn them into texts.
namespace KeychainStatus {
inline constexpr OSStatus Success = 0;
inline constexpr OSStatus Unimplemented = -4;
inline constexpr OSStatus Param = -50;
inline constexpr OSStatus UserCanceled = -128;
inline constexpr OSStatus NotAvailable = -25291;
inline constexpr OSStatus AuthFailed = -25293;
inline constexpr OSStatus DuplicateItem = -25299;
inline constexpr OSStatus ItemNotFound = -25300;
inline constexpr OSStatus InteractionNotAllowed = -25308;
inline constexpr OSStatus InternalComponent = -26276;
inline constexpr OSStatus MissingEntitlement = -34018;
inline constexpr OSStatus InvalidItem = -67701;
} // namespace KeychainStatus

// A generic-password item, identified by service and account.
struct KeychainItem {
    QString service;
    QString account;
    QByteArray value;
    bool synchronizable = false;
    // Released only after a biometric check of the biometry enrolled when
    // the item was stored; unreadable (not found) once that changed.
    bool biometryCurrentSet = false;
};

// Which items an operation applies to. Without a synchronizable flag only
// items that are not synchronizable match, as with the keychain we mirror.
struct KeychainQuery {
    QString service;
    QString account;
    std::optional<bool> synchronizable;
    // Shown in the biometric prompt when the item is protected.
    QString authenticationReason;

    bool operator==(const KeychainQuery&) const = default;
};

// Synchronous storage of small secrets. Implementations never block on a
// user prompt: a store that cannot be used without one answers
// InteractionNotAllowed. The app calls it only on the keyring's own thread
// (KeychainThread), never on the interface thread.
class Keychain {
public:
    virtual ~Keychain() = default;

    // From any thread: the call under way ends as soon as it can, and every
    // call until resume() answers InteractionNotAllowed at once.
    void interrupt();
    void resume() { interrupted_ = false; }

    virtual OSStatus add(const KeychainItem& item) = 0;
    // The value of the first matching item.
    virtual OSStatus copyMatching(const KeychainQuery& query, QByteArray* value) = 0;
    // Removes every matching item; ItemNotFound when there was none.
    virtual OSStatus remove(const KeychainQuery& query) = 0;
    // A text for `status` when the store has one (empty otherwise).
    virtual QString errorMessage(OSStatus status) const;

    // The desktop's keyring, or the instance a test installed.
    static Keychain& shared();
    static void overrideShared(Keychain* keychain);

protected:
    bool interrupted() const { return interrupted_; }
    // Wakes the call under way after interrupt(); runs on the interrupting thread.
    virtual void onInterrupt() {}

    // The check a protected item's read goes through: a changed enrolment
    // reads as not found, then the biometric prompt decides.
    static OSStatus releaseProtected(const QByteArray& storedEnrollment, const QString& reason);

private:
    std::atomic<bool> interrupted_{false};
};

} // namespace orvane::platform
