#pragma once

#include "platform/keychain.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// The application's identifier; keyring items are filed under it.
inline constexpr const char* kApplicationIdentifier = "app.orvane.Orvane";

QString authTokenService();
inline constexpr const char* kAuthTokenAccount = "sanctum_token";

// Where the stored token was issued, beside it in the user defaults (the
// origin is no secret): "scheme://host:port".
inline constexpr const char* kAuthTokenOriginKey = "orvane_auth_token_origin";

// Replaces the stored bearer token and notes the configured service as its
// origin. Returns the German failure text, or nothing when the token was
// stored or there was nothing to store.
std::optional<QString> saveAuthToken(const QString& token);
void deleteAuthToken();
// Whether the stored token was issued by the service configured now; one of
// another address, or of unknown origin, is never sent.
bool authTokenBelongsToService();
// A token stored before its origin was noted has only ever gone to the
// service configured for it: that one is noted as its origin.
void adoptAuthTokenOfUnknownOrigin();
platform::KeychainQuery authTokenQuery(bool nonSynchronizableOnly);
// The stored token, trimmed; nothing when absent, blank or not UTF-8.
std::optional<QString> readAuthToken(const platform::KeychainQuery& query);
platform::OSStatus addAuthTokenItem(const QByteArray& token);

// The German text shown for a keyring status; nothing for success.
std::optional<QString> keychainMessage(platform::OSStatus status);

} // namespace orvane
