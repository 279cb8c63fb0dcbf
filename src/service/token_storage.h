#pragma once

#include "platform/keychain.h"
#include "service/orvane_api_config.h"

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <optional>

namespace orvane {

// The application's identifier; keyring items are filed under it.
inline constexpr const char* kApplicationIdentifier = "app.orvane.Orvane";

QString authTokenService();
inline constexpr const char* kAuthTokenAccount = "sanctum_token";

// Where a token kept bare by an earlier version was issued, noted beside it in
// the user defaults ("scheme://host:port"; no secret). Tokens stored now carry
// their origin in the keyring item itself. The note goes only once the token
// it belongs to is gone.
inline constexpr const char* kAuthTokenOriginKey = "orvane_auth_token_origin";
// Set once an origin was recorded here: from then on a token of unknown
// origin is never taken for the configured service.
inline constexpr const char* kAuthTokenOriginRecordedKey = "orvane_auth_token_origin_recorded";
// A sign-out whose removal of the token the keyring has not confirmed (no
// secret in it): carried out at the next start, which then restores nothing.
inline constexpr const char* kAuthTokenRemovalPendingKey = "orvane_auth_token_removal_pending";

// A stored token and the service that issued it; no origin for a token kept
// bare by an earlier version.
struct StoredAuthToken {
    QString token;
    std::optional<QString> origin;
    bool operator==(const StoredAuthToken&) const = default;
};

// ---- Keyring calls: on the keyring's thread (KeychainThread) ----

// Replaces the stored bearer token with `token`, tied to `origin`. Returns
// the German failure text, or nothing when the token was stored or there was
// nothing to store.
std::optional<QString> saveAuthToken(const QString& token,
                                     const QString& origin = OrvaneAPIConfig::serviceOrigin());
// True when the keyring confirmed that no token item is left.
bool deleteAuthToken();
platform::KeychainQuery authTokenQuery(bool nonSynchronizableOnly);
// The stored token, trimmed; nothing when absent, blank or not UTF-8.
std::optional<QString> readAuthToken(const platform::KeychainQuery& query);
// Both lookups, in their order, with the token's origin.
std::optional<StoredAuthToken> readStoredAuthToken();
platform::OSStatus addAuthTokenItem(const QByteArray& value);
// What the item holds: the token and its origin as one secret, so that
// neither outlives the other.
QByteArray authTokenItemValue(const QString& token, const QString& origin);
std::optional<StoredAuthToken> decodeAuthTokenItem(const QByteArray& value);

// ---- On the main thread; the keyring answers in the background ----

// Stores the token; the German text when it could not be remembered.
QCoro::Task<std::optional<QString>> rememberAuthToken(QString token);
// Removes the stored token. Until the keyring confirms it, a mark in the
// user defaults stands; true once confirmed.
QCoro::Task<bool> forgetAuthToken();
bool authTokenRemovalPending();
// The stored token when it belongs to the service configured now. A pending
// removal is carried out instead, and nothing is restored while it stands.
QCoro::Task<std::optional<QString>> rememberedAuthToken();

// Shown when the keyring did not answer a save in time.
QString keyringNotAnsweringMessage();

// The German text shown for a keyring status; nothing for success.
std::optional<QString> keychainMessage(platform::OSStatus status);

} // namespace orvane
