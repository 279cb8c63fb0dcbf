#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace orvane {

// One Orvane per desktop session: the first start owns a name on the session
// bus; a later start asks that one to toggle its popover and leaves, so there
// is never a second status item, store or writer of the local records.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.orvane.Orvane")
public:
    static constexpr const char* kObjectPath = "/app/orvane/Orvane";
    // "app.orvane.Orvane"; a trial run (ORVANE_DEMO=1) is an instance of its own.
    static QString serviceName();

    explicit SingleInstance(QDBusConnection connection = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);

    enum class Claim { Owner, AnotherRuns, NoBus };
    // Takes the name when nobody has it.
    Claim claim();
    // Asks the running instance to toggle its popover; false when it did not
    // answer.
    bool askRunningToToggle(int timeoutMs = 3000);

    enum class Start { Run, HandedOver, NoAnswer };
    // What a start does: run (owning the name, or without a bus), or leave
    // because a running Orvane took the click or is too busy to answer. An
    // owner that quit meanwhile is no reason to leave; a stranger holding the
    // name is none either: then this start queues for the name, and later
    // starts find it among the queued owners.
    Start start(int timeoutMs = 3000);
    // Gives up the name at once, so that a start during the shutdown runs.
    void release();

public Q_SLOTS:
    Q_SCRIPTABLE void TogglePopover();

Q_SIGNALS:
    void toggleRequested();

private:
    enum class Answer { Toggled, NoOwner, NotOrvane, NoAnswer };
    Answer askToToggle(const QString& service, int timeoutMs);
    Start startBesideStranger(int timeoutMs);

    QDBusConnection connection_;
};

} // namespace orvane
