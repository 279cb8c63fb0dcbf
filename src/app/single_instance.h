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

public Q_SLOTS:
    Q_SCRIPTABLE void TogglePopover();

Q_SIGNALS:
    void toggleRequested();

private:
    QDBusConnection connection_;
};

} // namespace orvane
