#pragma once

class QScrollArea;

namespace orvane {

// A thin scroll indicator in place of the desktop's scroll bar with arrows,
// drawn for a dark or a light ground.
void useThinScrollIndicator(QScrollArea* area, bool lightGround = false);

} // namespace orvane
