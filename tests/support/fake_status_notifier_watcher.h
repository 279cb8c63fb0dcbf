#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>

namespace orvane::test {

// Stands in for the panel's org.kde.StatusNotifierWatcher on a connection of
// its own and records the items that register. It answers from the test's
// thread: an item that waited blockingly for the answer would never register.
class FakeStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    explicit FakeStatusNotifierWatcher(QDBusConnection bus);

    // Takes and gives up the watcher's name, as a panel starting and quitting does.
    bool start();
    void stop();

    QStringList registrations; // item names, in the order they registered
    // The next this many registrations get no answer: a watcher that is stuck.
    int leaveUnanswered = 0;

    // Whether a panel shows the items: a panel starting or quitting.
    bool isHostRegistered() const { return hostRegistered_; }
    void setHostRegistered(bool registered);
    // Told through PropertiesChanged alone, as Cinnamon's watcher does.
    bool onlyThroughProperties = false;

Q_SIGNALS:
    void itemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
    void StatusNotifierItemUnregistered(const QString& service);

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        registrations.append(service);
        if (leaveUnanswered > 0) {
            --leaveUnanswered;
            setDelayedReply(true); // and never sent
            return;
        }
        Q_EMIT itemRegistered(service);
    }

private:
    QDBusConnection bus_;
    bool hostRegistered_ = true;
};

} // namespace orvane::test
