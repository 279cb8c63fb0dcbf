#pragma once

#include <QAccessible>

class QWidget;

namespace orvane {

// Gives a plain container the role a screen reader should announce (a panel
// as a dialog, the popover as a pane). Call before the widget is shown: an
// interface asked for earlier keeps its role.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

} // namespace orvane
