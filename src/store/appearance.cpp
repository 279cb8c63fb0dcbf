#include "store/appearance.h"

namespace orvane {

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
    for (const AccentStyle style :
         {AccentStyle::Gradient, AccentStyle::Indigo, AccentStyle::Mint, AccentStyle::Amber})
        if (rawValue(style) == text)
            return style;
    return std::nullopt;
}

} // namespace orvane
