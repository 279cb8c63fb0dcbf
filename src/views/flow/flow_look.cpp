#include "views/flow/flow_look.h"

#include "views/kit/palette.h"

#include <QPainter>
#include <QPainterPath>

namespace orvane {

namespace {

QColor withAlpha(QColor colour, qreal alpha) {
    colour.setAlphaF(float(colour.alphaF() * alpha));
    return colour;
}

QColor white(qreal alpha) {
    return withAlpha(Qt::white, alpha);
}
QColor black(qreal alpha) {
    return withAlpha(Qt::black, alpha);
}

} // namespace

QColor flowBackgroundColor(bool light) {
    return light ? QColor(Qt::white) : QColor(15, 16, 24);
}

QColor flowSecondaryTextColor(bool light) {
    return light ? QColor(156, 163, 175) : withAlpha(Palette::textTertiary(), 0.8);
}

QColor flowTitleColor(bool light) {
    return light ? QColor(17, 24, 39) : Palette::textPrimary();
}

QColor flowMutedColor(bool light) {
    return light ? QColor(107, 114, 128) : Palette::textTertiary();
}

QColor flowHeaderSubtitleColor(bool light) {
    return light ? QColor(75, 85, 99) : Palette::textTertiary();
}

QColor flowViolet() {
    return QColor(139, 92, 246);
}

QColor flowErrorColor() {
    return withAlpha(QColor(255, 149, 0), 0.9);
}

ShapeLook selectableRowLook(bool light, bool highlighted) {
    if (highlighted)
        return light ? ShapeLook{withAlpha(Palette::indigo(), 0.10),
                                 withAlpha(Palette::indigo(), 0.26)}
                     : ShapeLook{withAlpha(Palette::indigo(), 0.11),
                                 withAlpha(Palette::indigo(), 0.32)};
    return light ? ShapeLook{black(0.04), black(0.07)} : ShapeLook{white(0.03), white(0.05)};
}

ShapeLook searchFieldLook(bool light) {
    return light ? ShapeLook{QColor(Qt::white), black(0.10)} : ShapeLook{white(0.04), white(0.06)};
}

ShapeLook backButtonLook(bool light) {
    return light ? ShapeLook{black(0.05), black(0.10)} : ShapeLook{white(0.06), white(0.08)};
}

StepCapsuleLook stepCapsuleLook(int number, int step, bool light) {
    const int current = std::min(step + 1, 3);
    if (number == current)
        return {20, StepCapsuleLook::Fill::Gradient, {}};
    if (number < current)
        return {6, StepCapsuleLook::Fill::Done, withAlpha(flowViolet(), 0.55)};
    return {6, StepCapsuleLook::Fill::ToCome, light ? black(0.12) : white(0.16)};
}

void paintShape(QPainter& painter, const QRectF& rect, qreal radius, const ShapeLook& look) {
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, look.fill);
    QPen pen(look.stroke, 1);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::FlatCap);
    painter.strokePath(shape, pen);
    painter.restore();
}

} // namespace orvane
