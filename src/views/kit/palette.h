#pragma once

#include "store/appearance.h"

#include <QBrush>
#include <QColor>
#include <QPainterPath>
#include <QRectF>

#include <vector>

class QPainter;

namespace orvane {

// The named colours every view draws with (dark look).
struct Palette {
    static QColor bgDeep();
    static QColor bgCard();
    static QColor bgElevated();
    static QColor bgInset();
    static QColor hairline();
    static QColor border();
    static QColor textPrimary();
    static QColor textSecondary();
    static QColor textTertiary();
    static QColor indigo();
    static QColor pink();
    static QColor mint();
    static QColor amber();
    static QColor rose();
};

// The colours of a style's accent fill: one for a solid fill, two (first,
// second) for a gradient.
std::vector<QColor> accentColors(AccentStyle style);

// The accent fill over `rect`: a solid colour, or a linear gradient from the
// top-left to the bottom-right corner of `rect`.
QBrush accentBrush(AccentStyle style, const QRectF& rect);

// Fills `shape` with the accent fill laid over the shape's bounds. The one way
// every view paints an accent.
void fillAccent(QPainter& painter, const QPainterPath& shape, AccentStyle style);

// Outlines a control that holds the keyboard, inside its `box`, so that a
// keyboard user sees where the next Space acts.
void strokeKeyboardFocus(QPainter& painter, const QRectF& box, qreal radius);

} // namespace orvane
