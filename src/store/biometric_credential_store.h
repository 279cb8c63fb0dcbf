#pragma once

#include "platform/error.h"
#include "platform/keychain.h"

#include <QString>

#include <optional>
#include <utility>

namespace orvane {

// What biometric quick sign-in needs, kept in the keyring: the credentials
// behind a biometric check, and e-mail and password as a plain backup from
// which the credentials can be rebuilt. The functions call the keyring: the
// app runs them on the keyring's thread (KeychainThread).
namespace BiometricCredentialStore {

struct Payload {
    QString email;
    std::optional<QString> password;
    std::optional<QString> token;

    bool operator==(const Payload&) const = default;
};

class StoreError : public Error {
public:
    enum class Kind {
        KeychainWrite,
        KeychainRead,
        UserCanceled,
        MissingOrInvalid,
        BiometryFailed,
        AccessControlFailed,
        DecodeFailed,
    };

    explicit StoreError(Kind kind, platform::OSStatus status = 0) : kind_(kind), status_(status) {}
    Kind kind() const { return kind_; }
    platform::OSStatus status() const { return status_; }
    // The case's own text, if it has one.
    std::optional<QString> errorDescription() const;
    QString localizedDescription() const override;

private:
    Kind kind_;
    platform::OSStatus status_;
};

QString service();

void store(const QString& email, const QString& password);
void storeWithToken(const QString& email, const QString& token);
void store(const QString& email, const QString& password, const QString& token);
void save(const Payload& payload);
// Asks for the biometric check with `reason`, then returns what is stored.
Payload load(const QString& reason);
void deleteCredentials();
void deletePasswordBackup();
void savePasswordBackup(const QString& email, const QString& password);
std::optional<std::pair<QString, QString>> loadPasswordBackup();
void credentialsFromPasswordBackup();

QString biometryDisplayName();
QString biometrySymbolName();

} // namespace BiometricCredentialStore

inline constexpr const char* kBiometricCredentialInKeychainKey =
    "orvane_biometric_credential_in_keychain";

} // namespace orvane
