#include "views/popover/popover_views.h"

namespace orvane {

PopoverViews defaultPopoverViews() {
    PopoverViews views;
    return views;
}

} // namespace orvane
