#pragma once

#include <QPixmap>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QStringView>

class QPainter;

namespace orvane {

// The image assets compiled into the program: "OIcon", "OrvaneLogo",
// "AppIcon" (our own drawings, SVG). An unknown name draws nothing and gives
// a null pixmap.
QPixmap assetPixmap(QStringView name, QSize logicalSize, qreal devicePixelRatio = 1.0);
void drawAsset(QPainter& painter, QStringView name, const QRectF& box);
// The drawing's own size, for its aspect ratio; empty for an unknown name.
QSizeF assetSize(QStringView name);

} // namespace orvane
