#pragma once

#include "store/app_store.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace orvane {

enum class PopoverShortcut { None, NewSession, StartStop };

// Ctrl+Shift+N and Ctrl+Shift+T, by the key the layout produces; further
// modifiers (Alt, Meta, Caps Lock) may be held as well.
PopoverShortcut popoverShortcut(int key, Qt::KeyboardModifiers modifiers);

// The popover's two shortcuts while its root is on screen: an application
// event filter that consumes the two combinations and runs their actions on
// a later turn of the event loop, never inside the key's dispatch.
class LocalKeyMonitor : public QObject {
    Q_OBJECT
public:
    QPointer<AppStore> store;
    std::function<void()> openNewSession;
    std::function<void()> runStartStop;

    ~LocalKeyMonitor() override { stop(); }

    // Registers (again: at most one registration).
    void start();
    void stop();
    bool isRegistered() const { return registered_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool registered_ = false;
};

} // namespace orvane
