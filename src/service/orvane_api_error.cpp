#include "service/orvane_api_error.h"

#include "service/display_texts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace orvane {

namespace {
const QString kGenericAccountMessage =
    QStringLiteral("Bitte schließe die offenen Schritte in deinem orvane-Konto im Web ab.");

std::optional<QString> reasonMessage(const QString& reason) {
    if (reason == u"profile_incomplete")
        return QStringLiteral("Bitte vervollständige dein Profil im Web.");
    if (reason == u"dpa_required")
        return QStringLiteral(
            "Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web in deinem Profil.");
    if (reason == u"dpa_outdated")
        return QStringLiteral("Die AVV wurde aktualisiert. Bitte bestätige die neue Fassung im "
                              "Web in deinem Profil.");
    return std::nullopt;
}

struct AccountBlockedResponse {
    std::optional<QString> message;
    std::optional<QString> reason;
    std::optional<AccountRequirements> accountRequirements;

    static AccountBlockedResponse decode(const wire::Decoder& decoder) {
        const wire::KeyedContainer c = decoder.container();
        return {c.decodeIfPresent<QString>(QStringLiteral("message")),
                c.decodeIfPresent<QString>(QStringLiteral("reason")),
                c.decodeIfPresent<AccountRequirements>(QStringLiteral("accountRequirements"))};
    }
};

// For bodies the typed read fails on or that keep the requirements elsewhere.
std::optional<OrvaneAPIError> fromRawBody(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject top = doc.object();
    QJsonObject requirementsObject;
    if (top.value(QLatin1String("account_requirements")).isObject())
        requirementsObject = top.value(QLatin1String("account_requirements")).toObject();
    else if (top.value(QLatin1String("accountRequirements")).isObject())
        requirementsObject = top.value(QLatin1String("accountRequirements")).toObject();
    else
        return std::nullopt;
    AccountRequirements requirements;
    try {
        requirements = AccountRequirements::decode(wire::Decoder(requirementsObject, QString()));
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    if (!requirements.needsAction())
        return std::nullopt;
    const QJsonValue message = top.value(QLatin1String("message"));
    const auto text = message.isString() ? wire::trimmedNonEmpty(message.toString()) : std::nullopt;
    return OrvaneAPIError::accountNotReady(text.value_or(kGenericAccountMessage), requirements);
}
} // namespace

OrvaneAPIError OrvaneAPIError::http(int statusCode, std::optional<QByteArray> body) {
    OrvaneAPIError e(Kind::Http);
    e.statusCode_ = statusCode;
    e.body_ = std::move(body);
    return e;
}

OrvaneAPIError OrvaneAPIError::decoding(DecodingError error) {
    OrvaneAPIError e(Kind::Decoding);
    e.decodingError_ = std::move(error);
    return e;
}

OrvaneAPIError OrvaneAPIError::accountNotReady(QString message,
                                               std::optional<AccountRequirements> requirements) {
    OrvaneAPIError e(Kind::AccountNotReady);
    e.message_ = std::move(message);
    e.requirements_ = std::move(requirements);
    return e;
}

OrvaneAPIError OrvaneAPIError::message(QString text) {
    OrvaneAPIError e(Kind::Message);
    e.message_ = std::move(text);
    return e;
}

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString OrvaneAPIError::errorDescription() const {
    switch (kind_) {
    case Kind::Http: {
        if (statusCode_ == 429)
            return QStringLiteral(
                "Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut.");
        const QString status = QStringLiteral("HTTP ") + QString::number(statusCode_);
        if (body_)
            if (const auto text = strictUtf8(*body_))
                return status + QStringLiteral(": ") + boundedDisplayText(*text);
        return status;
    }
    case Kind::Decoding:
        return decodingError_ ? decodingError_->localizedDescription() : QString();
    case Kind::AccountNotReady:
    case Kind::Message:
        return boundedDisplayText(message_);
    case Kind::InvalidURL:
        return QStringLiteral("Ungültige URL");
    case Kind::NoData:
        return QStringLiteral("Keine Daten");
    case Kind::TwoFactorRequired:
        return QStringLiteral("Zwei-Faktor-Authentifizierung erforderlich");
    case Kind::EmailNotVerified:
        return QStringLiteral("E-Mail ist nicht verifiziert");
    case Kind::JobTimeAlreadyStopped:
        return QStringLiteral("Diese Zeiterfassung wurde bereits beendet.");
    }
    return {};
}

std::optional<OrvaneAPIError> accountNotReadyError(const QByteArray& body) {
    std::optional<AccountBlockedResponse> blocked;
    try {
        blocked = wire::decodeJSON<AccountBlockedResponse>(body);
    } catch (const DecodingError&) {
    }
    if (blocked) {
        const QString reason = blocked->reason.value_or(QString()).trimmed();
        if (const auto fixed = reasonMessage(reason))
            return OrvaneAPIError::accountNotReady(
                wire::trimmedNonEmpty(blocked->message).value_or(*fixed),
                blocked->accountRequirements);
        if (blocked->accountRequirements && blocked->accountRequirements->needsAction())
            return OrvaneAPIError::accountNotReady(
                wire::trimmedNonEmpty(blocked->message).value_or(kGenericAccountMessage),
                blocked->accountRequirements);
    }
    return fromRawBody(body);
}

} // namespace orvane
