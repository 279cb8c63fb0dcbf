#include "support/private_bus.h"

namespace orvane::test {

PrivateBus::PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")},
                  QIODevice::ReadOnly);
    if (!daemon_.waitForStarted(30000))
        return;
    // The address is printed once the daemon listens.
    while (!daemon_.canReadLine())
        if (!daemon_.waitForReadyRead(30000))
            return;
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_)
        QDBusConnection::disconnectFromBus(name);
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::connect(const QString& name) {
    // Connection names are process-wide; one bus's names never reach another's.
    const QString unique = name + QLatin1Char('@') + address_;
    connections_.append(unique);
    return QDBusConnection::connectToBus(address_, unique);
}

} // namespace orvane::test
