#pragma once

#include <QJsonValue>
#include <QString>

#include <array>
#include <optional>

namespace orvane {

enum class AccentStyle { Gradient, Indigo, Mint, Amber };
enum class RingVariant { Gradient, Mono, Orb };
enum class Density { Compact, Cozy };

// Every case, in declaration order.
inline constexpr std::array kAccentStyles{AccentStyle::Gradient, AccentStyle::Indigo,
                                          AccentStyle::Mint, AccentStyle::Amber};
inline constexpr std::array kRingVariants{RingVariant::Gradient, RingVariant::Mono,
                                          RingVariant::Orb};
inline constexpr std::array kDensities{Density::Compact, Density::Cozy};

QString rawValue(AccentStyle style);
QString rawValue(RingVariant variant);
QString rawValue(Density density);

// The case whose raw value is exactly `text` (case-sensitive, untrimmed).
std::optional<AccentStyle> accentStyleFromRawValue(const QString& text);
std::optional<RingVariant> ringVariantFromRawValue(const QString& text);
std::optional<Density> densityFromRawValue(const QString& text);

// Encoded as the raw string. Decoding takes one string naming a case; any
// other string throws a data-corrupted DecodingError, any other JSON type a
// type mismatch.
QJsonValue encodeJSON(AccentStyle style);
QJsonValue encodeJSON(RingVariant variant);
QJsonValue encodeJSON(Density density);
AccentStyle decodeAccentStyle(const QJsonValue& value);
RingVariant decodeRingVariant(const QJsonValue& value);
Density decodeDensity(const QJsonValue& value);

} // namespace orvane
