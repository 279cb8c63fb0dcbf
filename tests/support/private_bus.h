#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace orvane::test {

// A D-Bus daemon of the test's own. Tests that own well-known names (a
// StatusNotifierWatcher) would otherwise meet those of the tests ctest runs
// beside them on the one session bus.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False where no dbus-daemon could be started.
    bool running() const { return !address_.isEmpty(); }
    // For other processes to join (DBUS_SESSION_BUS_ADDRESS).
    QString address() const { return address_; }
    // A new connection to the bus; `name` tells a test's connections apart.
    QDBusConnection connect(const QString& name);

private:
    QProcess daemon_;
    QString address_;
    QStringList connections_;
};

} // namespace orvane::test
