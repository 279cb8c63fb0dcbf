#pragma once

#include <QByteArray>

#include <exception>

namespace orvane::platform {

// A passkey assertion as the platform's authorization request hands it back.
struct PasskeyAuthorization {
    QByteArray credentialId;
    QByteArray clientDataJSON;
    QByteArray authenticatorData;
    QByteArray signature;
    QByteArray userHandle;

    bool operator==(const PasskeyAuthorization&) const = default;
};

// Whoever runs a platform authorization request hears its end here, once, on
// the main thread. This desktop has no backend: nothing here starts a request.
class PasskeyAuthorizationDelegate {
public:
    virtual ~PasskeyAuthorizationDelegate() = default;
    virtual void didCompleteWithAuthorization(PasskeyAuthorization authorization) = 0;
    virtual void didCompleteWithError(std::exception_ptr error) = 0;
};

} // namespace orvane::platform
