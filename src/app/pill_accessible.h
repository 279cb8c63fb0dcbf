#pragma once

#include "app/menu_bar_pill_view.h"

namespace orvane {

// What a screen reader says for the pill: "Orvane, 1:23 läuft" while a clock
// runs, else "Orvane"; today's total is its description while idle.
QString pillAccessibleName(const PillContent& content);
QString pillAccessibleDescription(const PillContent& content);

// The pill is a button whose press opens or closes the popover, as a click
// on it does; pressing it through assistive technology takes no keyboard
// focus from the window the user types in. Installed once.
void installPillAccessibility();

} // namespace orvane
