#include "app/single_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QEventLoop>

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
    return askToToggle(serviceName(), timeoutMs) == Answer::Toggled;
}

SingleInstance::Answer SingleInstance::askToToggle(const QString& service, int timeoutMs) {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        service, QString::fromLatin1(kObjectPath), QStringLiteral("app.orvane.Orvane"),
        QStringLiteral("TogglePopover"));
    // Waited for in an event loop, so that an owner in this very process
    // (as in tests) can answer. The call ends by its answer or its own
    // time-out; a second timer of ours could win under load and leave a start
    // that an owner on its way out had answered.
    QDBusPendingCallWatcher watcher(connection_.asyncCall(call, timeoutMs));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    if (!watcher.isError())
        return Answer::Toggled;
    switch (watcher.error().type()) {
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return Answer::NotOrvane;
    default:
        break;
    }
    // An owner that quit before or while it was asked left the name free.
    QDBusConnectionInterface* daemon = connection_.interface();
    if (!daemon)
        return Answer::NoAnswer;
    const QDBusReply<bool> owned = daemon->isServiceRegistered(service);
    return owned.isValid() && !owned.value() ? Answer::NoOwner : Answer::NoAnswer;
}

SingleInstance::Start SingleInstance::start(int timeoutMs) {
    // An owner that quits between our claim and our call frees the name:
    // claimed again, a few times at most.
    for (int round = 0; round < 3; ++round) {
        if (claim() != Claim::AnotherRuns)
            return Start::Run;
        switch (askToToggle(serviceName(), timeoutMs)) {
        case Answer::Toggled:
            return Start::HandedOver;
        case Answer::NoAnswer:
            return Start::NoAnswer;
        case Answer::NoOwner:
            continue;
        case Answer::NotOrvane:
            return startBesideStranger(timeoutMs);
        }
    }
    return Start::NoAnswer;
}

SingleInstance::Start SingleInstance::startBesideStranger(int timeoutMs) {
    const QString name = serviceName();
    QDBusConnectionInterface* daemon = connection_.interface();
    const QDBusReply<QString> primary = daemon->serviceOwner(name);
    const QDBusMessage queued = daemon->call(QStringLiteral("ListQueuedOwners"), name);
    bool anotherQueued = false;
    for (const QString& owner : queued.arguments().value(0).toStringList()) {
        if ((primary.isValid() && owner == primary.value()) || owner == connection_.baseService())
            continue;
        anotherQueued = true;
        if (askToToggle(owner, timeoutMs) == Answer::Toggled)
            return Start::HandedOver;
    }
    if (anotherQueued)
        return Start::NoAnswer;
    // Next in line: the name is ours once the stranger lets it go.
    connection_.registerObject(QString::fromLatin1(kObjectPath), this,
                               QDBusConnection::ExportScriptableSlots);
    daemon->registerService(name, QDBusConnectionInterface::QueueService,
                            QDBusConnectionInterface::DontAllowReplacement);
    return Start::Run;
}

void SingleInstance::release() {
    if (auto* daemon = connection_.isConnected() ? connection_.interface() : nullptr)
        daemon->unregisterService(serviceName());
}

void SingleInstance::TogglePopover() {
    Q_EMIT toggleRequested();
}

} // namespace orvane
