#pragma once

#include "service/json_coding.h"
#include "service/user_records.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// The sign-in request: without a code the first step, with one the second.
struct LoginRequestBody {
    QString email;
    QString password;
    QString deviceName;
    std::optional<QString> code;
    std::optional<QString> recoveryCode;

    LoginRequestBody(QString email, QString password, QString deviceName,
                     std::optional<QString> code = {}, std::optional<QString> recoveryCode = {})
        : email(std::move(email)), password(std::move(password)), deviceName(std::move(deviceName)),
          code(std::move(code)), recoveryCode(std::move(recoveryCode)) {}

    QByteArray encode() const;
};

// The bearer token as it may travel: trimmed, not empty, printable ASCII only.
// Anything else (a line break above all) would let it write headers of its own.
// Past a few kilobytes no server takes it as a header line, so it would only
// make every request fail, and every start again.
inline constexpr qsizetype kMostBearerTokenChars = 4096;
std::optional<QString> usableBearerToken(const std::optional<QString>& text);

struct LoginSuccessDTO {
    QString token; // as sent, untrimmed
    std::optional<QString> tokenType;
    APIUser user;

    static LoginSuccessDTO decode(const wire::Decoder& decoder);
};

struct TwoFactorRequiredDTO {
    std::optional<bool> twoFactorRequired;
    std::optional<QString> message;

    static TwoFactorRequiredDTO decode(const wire::Decoder& decoder);
};

} // namespace orvane
