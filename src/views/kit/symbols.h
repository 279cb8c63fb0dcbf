#pragma once

#include "views/kit/fonts.h"

#include <QBrush>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QStringList>
#include <QStringView>

class QPainter;

namespace orvane {

// Our own drawings of the symbols the views name ("pause.fill", "plus",
// "chevron.right", …) as filled outlines in a 1 × 1 box. An unknown name gives
// an empty path.
QPainterPath symbolPath(QStringView name);
bool hasSymbol(QStringView name);
QStringList symbolNames();

// Draws the symbol centred in `box`, scaled to fit it with its aspect kept.
void drawSymbol(QPainter& painter, QStringView name, const QRectF& box, const QBrush& brush);

// The same drawings with lines as heavy as text of `weight` (symbolPath(name)
// is the regular weight).
QPainterPath symbolPath(QStringView name, FontWeight weight);
void drawSymbol(QPainter& painter, QStringView name, const QRectF& box, const QBrush& brush,
                FontWeight weight);
// A symbol "in the system font at `pointSize`": its 1 × 1 box is `pointSize`
// logical pixels wide, centred on `centre`.
void drawSymbol(QPainter& painter, QStringView name, QPointF centre, qreal pointSize,
                const QBrush& brush, FontWeight weight = FontWeight::Regular);

} // namespace orvane
