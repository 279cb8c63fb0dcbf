#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>

class QPainter;

namespace orvane {

// A soft shadow (or glow) of `shape` in `color`, blurred by `radius` logical
// pixels and moved by `offset`; drawn before the shape itself. The shadow
// spreads about `radius` beyond the shape, which the widget must leave room for.
void drawShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, qreal radius,
                QPointF offset = {});

} // namespace orvane
