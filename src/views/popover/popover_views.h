#pragma once

#include "views/popover/popover_root_view.h"

namespace orvane {

// The views the popover places, as the application shows them.
PopoverViews defaultPopoverViews();

} // namespace orvane
