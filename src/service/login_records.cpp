#include "service/login_records.h"

namespace orvane {

namespace {
// A code is sent only when it holds more than blanks, and then as typed.
std::optional<QString> nonBlankAsTyped(const std::optional<QString>& code) {
    if (code && !code->trimmed().isEmpty())
        return code;
    return std::nullopt;
}
} // namespace

std::optional<QString> usableBearerToken(const std::optional<QString>& text) {
    const auto trimmed = wire::trimmedNonEmpty(text);
    if (!trimmed || trimmed->size() > kMostBearerTokenChars)
        return std::nullopt;
    for (const QChar c : *trimmed)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return std::nullopt;
    return trimmed;
}

QByteArray LoginRequestBody::encode() const {
    return wire::BodyWriter()
        .add(QStringLiteral("email"), email)
        .add(QStringLiteral("password"), password)
        .add(QStringLiteral("deviceName"), deviceName)
        .addIfPresent(QStringLiteral("code"), nonBlankAsTyped(code))
        .addIfPresent(QStringLiteral("recoveryCode"), nonBlankAsTyped(recoveryCode))
        .toJson();
}

LoginSuccessDTO LoginSuccessDTO::decode(const wire::Decoder& decoder) {
    const wire::KeyedContainer c = decoder.container();
    LoginSuccessDTO r;
    r.token = c.decode<QString>(QStringLiteral("token"));
    if (!usableBearerToken(r.token))
        throw DecodingError(DecodingError::Kind::DataCorrupted, QStringLiteral("token"),
                            QStringLiteral("The token holds characters a header cannot carry."));
    r.tokenType = c.decodeIfPresent<QString>(QStringLiteral("tokenType"));
    r.user = c.decode<APIUser>(QStringLiteral("user"));
    return r;
}

TwoFactorRequiredDTO TwoFactorRequiredDTO::decode(const wire::Decoder& decoder) {
    const wire::KeyedContainer c = decoder.container();
    return {c.decodeIfPresent<bool>(QStringLiteral("twoFactorRequired")),
            c.decodeIfPresent<QString>(QStringLiteral("message"))};
}

} // namespace orvane
