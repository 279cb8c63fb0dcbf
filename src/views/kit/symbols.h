#pragma once

#include <QBrush>
#include <QPainterPath>
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

} // namespace orvane
