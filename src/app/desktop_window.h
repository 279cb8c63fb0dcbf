#pragma once

#include "app/popover_placement.h"

#include <optional>

class QWidget;

namespace orvane {

enum class DesktopPresence { CurrentWorkspace, EveryWorkspace };

// Keeps a window of ours out of the taskbar, the pager and the window
// switcher and above normal windows; with `EveryWorkspace` also on every
// workspace. Call it right before showing the window (`shown` false: the
// window manager reads the hints as it maps the window) and again right
// after (`shown` true: asked of the window manager, for one that dropped
// them while the window was hidden). Does nothing off X11.
void keepOffTaskbar(QWidget* window, DesktopPresence presence, bool shown);

// Our hidden windows stay hidden. When a window manager quits (a shell
// restart), the X server maps every window it had taken in, also one we
// had just hidden: Qt, believing it hidden, would never draw it, and it
// would stand on screen as an empty black box. Once per application; does
// nothing off X11.
void keepHiddenWindowsHidden();

// What the panels of an X11 desktop reserve (see DesktopPanels), read
// afresh; nothing off X11.
std::optional<DesktopPanels> desktopPanels();

// Whether the pointer position the window system gives follows the pointer
// outside our windows: not under Xwayland (an X11 session inside a Wayland
// one, as GNOME runs X programs).
PointerTrust pointerTrust();

} // namespace orvane
