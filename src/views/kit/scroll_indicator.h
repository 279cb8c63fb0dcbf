#pragma once

class QAbstractScrollArea;
class QScrollArea;
class QScrollBar;

namespace orvane {

// A thin scroll indicator in place of the desktop's scroll bar with arrows,
// drawn for a dark or a light ground.
void useThinScrollIndicator(QScrollArea* area, bool lightGround = false);

// A vertical indicator `width` wide that lies over the area's trailing edge
// instead of taking that width from the content. It follows the area's own
// (hidden) vertical bar both ways and shows only while there is something to
// scroll. The caller styles the bar it returns.
QScrollBar* overlayScrollIndicator(QAbstractScrollArea* area, int width);

} // namespace orvane
