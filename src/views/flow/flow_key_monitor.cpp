#include "views/flow/flow_key_monitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWindow>

namespace orvane {

std::optional<FlowKeyMonitor::FlowKey> FlowKeyMonitor::flowKey(int key) {
    switch (key) {
    case Qt::Key_Up:
        return FlowKey::ArrowUp;
    case Qt::Key_Down:
        return FlowKey::ArrowDown;
    case Qt::Key_Return:
    case Qt::Key_Enter: // the keypad's
        return FlowKey::Return;
    case Qt::Key_Escape:
        return FlowKey::Escape;
    default:
        return std::nullopt;
    }
}

FlowKeyMonitor::FlowKeyMonitor(Callbacks callbacks, QObject* parent)
    : QObject(parent), callbacks_(std::move(callbacks)) {}

FlowKeyMonitor::~FlowKeyMonitor() {
    detach();
}

void FlowKeyMonitor::attach(QWidget* anchor) {
    anchor_ = anchor;
    // The filter installed last sees a key first: before the popover's
    // shortcuts and the focused field. Installing again keeps one filter and
    // moves it back to the front.
    qApp->installEventFilter(this);
    installed_ = true;
}

void FlowKeyMonitor::detach() {
    if (installed_ && qApp)
        qApp->removeEventFilter(this);
    installed_ = false;
    anchor_ = nullptr;
}

bool FlowKeyMonitor::inAnchorWindow(QObject* watched) const {
    if (!anchor_ || !anchor_->isVisible())
        return false;
    const QWidget* window = anchor_->window();
    if (const auto* widget = qobject_cast<const QWidget*>(watched))
        return widget->window() == window;
    // A key reaches the window object before its focus widget.
    if (const auto* target = qobject_cast<const QWindow*>(watched))
        return target == window->windowHandle();
    return false;
}

bool FlowKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    const auto key = flowKey(static_cast<QKeyEvent*>(event)->key());
    if (!key || !inAnchorWindow(watched))
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Claimed, so no button's shortcut or other shortcut takes the key;
        // the key press then comes here.
        event->accept();
        return true;
    }
    // A copy: the callback may replace the callbacks.
    std::function<void()> callback;
    switch (*key) {
    case FlowKey::ArrowUp:
        callback = callbacks_.onArrowUp;
        break;
    case FlowKey::ArrowDown:
        callback = callbacks_.onArrowDown;
        break;
    case FlowKey::Return:
        callback = callbacks_.onReturn;
        break;
    case FlowKey::Escape:
        callback = callbacks_.onEscape;
        break;
    }
    if (callback)
        callback();
    return true;
}

} // namespace orvane
