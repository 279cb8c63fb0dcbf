#pragma once

#include "platform/http_session.h"

#include <QString>
#include <QUrl>

namespace orvane {

// The service's address and optional basic-auth pair, read from the user
// defaults on every access so that a changed value counts at once.
namespace OrvaneAPIConfig {

inline constexpr const char* kBaseURLKey = "orvane_api_base_url";
inline constexpr const char* kBasicUserKey = "orvane_http_basic_user";
inline constexpr const char* kBasicPasswordKey = "orvane_http_basic_password";

// Used when the user defaults name no address of their own.
QString builtInBaseURL();

QString baseURLString();
QString basicAuthUser();
QString basicAuthPassword();

// Whether `url` has the scheme, host and port of the configured base URL:
// the only place the token and the basic-auth pair may go.
bool isServiceOrigin(const QUrl& url);

// "scheme://host:port" of `url`, lower case, the port always written; empty
// when the address has no host. Of the configured base URL when none given.
QString originOf(const QUrl& url);
QString serviceOrigin();
// Both on one origin (neither without a host).
bool sameOrigin(const QUrl& a, const QUrl& b);

} // namespace OrvaneAPIConfig

// Answers the configured service's demand for HTTP basic authentication with
// the configured pair, once per request; any other host or method gets
// default handling. Calls `completion` exactly once, before it returns.
void answerBasicAuthChallenge(const platform::AuthChallenge& challenge,
                              const platform::AuthChallengeCompletion& completion);

// The one HTTP session of the process, created on first use.
platform::HttpSession& sharedURLSession();

} // namespace orvane
