#include "views/popover/local_key_monitor.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

namespace orvane {

PopoverShortcut popoverShortcut(int key, Qt::KeyboardModifiers modifiers) {
    if (!(modifiers & Qt::ControlModifier) || !(modifiers & Qt::ShiftModifier))
        return PopoverShortcut::None;
    switch (key) {
    case Qt::Key_N:
        return PopoverShortcut::NewSession;
    case Qt::Key_T:
        return PopoverShortcut::StartStop;
    default:
        return PopoverShortcut::None;
    }
}

void LocalKeyMonitor::start() {
    stop();
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        registered_ = true;
    }
}

void LocalKeyMonitor::stop() {
    if (!registered_)
        return;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    registered_ = false;
}

bool LocalKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    const bool override = event->type() == QEvent::ShortcutOverride;
    if (!override && event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const PopoverShortcut shortcut = popoverShortcut(key->key(), key->modifiers());
    if (shortcut == PopoverShortcut::None)
        return QObject::eventFilter(watched, event);
    // Claimed before any button's or menu's own shortcut can take the key;
    // the key press that follows runs the action.
    event->accept();
    if (override)
        return true;
    const QPointer<LocalKeyMonitor> self(this);
    QTimer::singleShot(0, this, [self, shortcut] {
        if (!self)
            return;
        if (shortcut == PopoverShortcut::NewSession) {
            if (self->store && self->store->isLoggedIn() && self->openNewSession)
                self->openNewSession();
        } else if (self->runStartStop) {
            self->runStartStop();
        }
    });
    return true;
}

} // namespace orvane
