#include "support/fake_status_notifier_watcher.h"

#include <QDBusMessage>

namespace orvane::test {

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                            QDBusConnection::ExportAllSignals);
}

void FakeStatusNotifierWatcher::setHostRegistered(bool registered) {
    hostRegistered_ = registered;
    if (onlyThroughProperties) {
        QDBusMessage changed = QDBusMessage::createSignal(
            "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "PropertiesChanged");
        bus_.send(changed << "org.kde.StatusNotifierWatcher"
                          << QVariantMap{{"IsStatusNotifierHostRegistered", registered}}
                          << QStringList());
    } else if (registered)
        Q_EMIT StatusNotifierHostRegistered();
    else
        Q_EMIT StatusNotifierHostUnregistered();
}

bool FakeStatusNotifierWatcher::start() {
    return bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::stop() {
    bus_.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

} // namespace orvane::test
