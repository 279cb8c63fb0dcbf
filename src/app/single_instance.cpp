#include "app/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

namespace orvane {

QString SingleInstance::serviceName() {
    return qgetenv("ORVANE_DEMO") == "1" ? QStringLiteral("app.orvane.Orvane.Demo")
                                         : QStringLiteral("app.orvane.Orvane");
}

SingleInstance::SingleInstance(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {}

SingleInstance::Claim SingleInstance::claim() {
    if (!connection_.isConnected() || !connection_.interface())
        return Claim::NoBus;
    // The object first, so that whoever finds the name can call it at once.
    connection_.registerObject(QString::fromLatin1(kObjectPath), this,
                               QDBusConnection::ExportScriptableSlots);
    const auto reply = connection_.interface()->registerService(
        serviceName(), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::Owner;
    connection_.unregisterObject(QString::fromLatin1(kObjectPath));
    return reply.isValid() ? Claim::AnotherRuns : Claim::NoBus;
}

bool SingleInstance::askRunningToToggle(int timeoutMs) {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        serviceName(), QString::fromLatin1(kObjectPath), QStringLiteral("app.orvane.Orvane"),
        QStringLiteral("TogglePopover"));
    // Waited for in an event loop, so that an owner in this very process
    // (as in tests) can answer.
    QDBusPendingCallWatcher watcher(connection_.asyncCall(call, timeoutMs));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs + 100, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.isFinished() && !watcher.isError();
}

void SingleInstance::TogglePopover() {
    Q_EMIT toggleRequested();
}

} // namespace orvane
