#pragma once

#include <QString>

#include <optional>

namespace orvane {

enum class AccentStyle { Gradient, Indigo, Mint, Amber };
enum class RingVariant { Gradient, Mono, Orb };
enum class Density { Compact, Cozy };

QString rawValue(AccentStyle style);
QString rawValue(RingVariant variant);
QString rawValue(Density density);

// The case whose raw value is exactly `text` (case-sensitive, untrimmed).
std::optional<AccentStyle> accentStyleFromRawValue(const QString& text);

} // namespace orvane
