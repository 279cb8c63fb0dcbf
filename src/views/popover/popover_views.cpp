#include "views/popover/popover_views.h"

#include "views/flow/login_view.h"

namespace orvane {

PopoverViews defaultPopoverViews() {
    PopoverViews views;
    views.login = [](PopoverRootView& root, QWidget* parent) -> QWidget* {
        return new LoginView(root.store(), parent);
    };
    return views;
}

} // namespace orvane
