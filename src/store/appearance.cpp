#include "store/appearance.h"

#include "service/json_coding.h"

namespace orvane {

namespace {

template <typename Cases>
std::optional<typename Cases::value_type> fromRawValue(const Cases& cases, const QString& text) {
    for (const auto value : cases)
        if (rawValue(value) == text)
            return value;
    return std::nullopt;
}

template <typename Cases>
typename Cases::value_type decode(const Cases& cases, const QJsonValue& value, const char* type) {
    if (!value.isString())
        throw DecodingError(
            DecodingError::Kind::TypeMismatch, QString(),
            QStringLiteral("Expected to decode String for %1.").arg(QString::fromLatin1(type)));
    if (const auto found = fromRawValue(cases, value.toString()))
        return *found;
    // The text is the stored preference, not a secret; bounded all the same.
    throw DecodingError(DecodingError::Kind::DataCorrupted, QString(),
                        QStringLiteral("Cannot initialize %1 from invalid String value %2")
                            .arg(QString::fromLatin1(type), value.toString().left(64)));
}

} // namespace

QString rawValue(AccentStyle style) {
    switch (style) {
    case AccentStyle::Gradient:
        return QStringLiteral("gradient");
    case AccentStyle::Indigo:
        return QStringLiteral("indigo");
    case AccentStyle::Mint:
        return QStringLiteral("mint");
    case AccentStyle::Amber:
        return QStringLiteral("amber");
    }
    return {};
}

QString rawValue(RingVariant variant) {
    switch (variant) {
    case RingVariant::Gradient:
        return QStringLiteral("gradient");
    case RingVariant::Mono:
        return QStringLiteral("mono");
    case RingVariant::Orb:
        return QStringLiteral("orb");
    }
    return {};
}

QString rawValue(Density density) {
    return density == Density::Compact ? QStringLiteral("compact") : QStringLiteral("cozy");
}

std::optional<AccentStyle> accentStyleFromRawValue(const QString& text) {
    return fromRawValue(kAccentStyles, text);
}

std::optional<RingVariant> ringVariantFromRawValue(const QString& text) {
    return fromRawValue(kRingVariants, text);
}

std::optional<Density> densityFromRawValue(const QString& text) {
    return fromRawValue(kDensities, text);
}

QJsonValue encodeJSON(AccentStyle style) {
    return rawValue(style);
}

QJsonValue encodeJSON(RingVariant variant) {
    return rawValue(variant);
}

QJsonValue encodeJSON(Density density) {
    return rawValue(density);
}

AccentStyle decodeAccentStyle(const QJsonValue& value) {
    return decode(kAccentStyles, value, "AccentStyle");
}

RingVariant decodeRingVariant(const QJsonValue& value) {
    return decode(kRingVariants, value, "RingVariant");
}

Density decodeDensity(const QJsonValue& value) {
    return decode(kDensities, value, "Density");
}

} // namespace orvane
