#pragma once

#include "app/menu_bar_pill_view.h"

#include <QImage>
#include <QList>

namespace orvane {

// The panel item's icon: the app icon with the pill's state as a small badge
// (a pink dot while a timer runs, a pause glyph while idle), drawn on a dark
// disc with a light rim so it reads on light and on dark panels alike.
QImage statusIconImage(PillContent::Kind kind, int size);
// 16, 22, 32 and 48 pixels.
QList<QImage> statusIconImages(PillContent::Kind kind);

// The widest text a label of this form can show, for the panel to reserve.
QString labelGuide(const QString& text);

} // namespace orvane
