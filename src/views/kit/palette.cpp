#include "views/kit/palette.h"

#include <QLinearGradient>
#include <QPainter>

namespace orvane {

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

QColor Palette::bgDeep() {
    static const QColor color(10, 11, 20);
    return color;
}

QColor Palette::bgCard() {
    static const QColor color(18, 19, 31);
    return color;
}

QColor Palette::bgElevated() {
    static const QColor color(24, 26, 40);
    return color;
}

QColor Palette::bgInset() {
    static const QColor color(13, 14, 24);
    return color;
}

QColor Palette::hairline() {
    static const QColor color = withAlpha(Qt::white, 0.06);
    return color;
}

QColor Palette::border() {
    static const QColor color = withAlpha(Qt::white, 0.1);
    return color;
}

QColor Palette::textPrimary() {
    static const QColor color(244, 244, 248);
    return color;
}

QColor Palette::textSecondary() {
    static const QColor color = withAlpha(textPrimary(), 0.62);
    return color;
}

QColor Palette::textTertiary() {
    static const QColor color = withAlpha(textPrimary(), 0.38);
    return color;
}

QColor Palette::indigo() {
    static const QColor color(99, 102, 241);
    return color;
}

QColor Palette::pink() {
    static const QColor color(236, 72, 153);
    return color;
}

QColor Palette::mint() {
    static const QColor color(52, 211, 153);
    return color;
}

QColor Palette::amber() {
    static const QColor color(251, 191, 36);
    return color;
}

QColor Palette::rose() {
    static const QColor color(244, 63, 94);
    return color;
}

std::vector<QColor> accentColors(AccentStyle style) {
    switch (style) {
    case AccentStyle::Gradient:
        return {Palette::indigo(), Palette::pink()};
    case AccentStyle::Indigo:
        return {Palette::indigo()};
    case AccentStyle::Mint:
        // Deeper green to cyan: the accent is not the palette's mint.
        return {QColor(16, 185, 129), QColor(34, 211, 238)};
    case AccentStyle::Amber:
        return {QColor(245, 158, 11), Palette::pink()};
    }
    return {Palette::indigo()};
}

QBrush accentBrush(AccentStyle style, const QRectF& rect) {
    const std::vector<QColor> colors = accentColors(style);
    if (colors.size() == 1)
        return QBrush(colors.front());
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0, colors[0]);
    gradient.setColorAt(1, colors[1]);
    return QBrush(gradient);
}

void fillAccent(QPainter& painter, const QPainterPath& shape, AccentStyle style) {
    painter.fillPath(shape, accentBrush(style, shape.boundingRect()));
}

void strokeKeyboardFocus(QPainter& painter, const QRectF& box, qreal radius) {
    constexpr qreal kWidth = 1.5;
    QColor ring = Palette::indigo();
    ring.setAlphaF(0.9f);
    painter.save();
    painter.setClipping(false);
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ring, kWidth));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = kWidth / 2;
    painter.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}

} // namespace orvane
