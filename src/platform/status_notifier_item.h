#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QSet>
#include <QObject>
#include <QTimer>
#include <QPoint>
#include <QString>

#include <functional>
#include <optional>

namespace orvane::platform {

class StatusNotifierItemAdaptor;
class StatusNotifierMenu;

// The app's item in the panel's notification area: a freedesktop
// StatusNotifierItem exported over D-Bus, with a text label beside the icon
// where the panel shows one. Registers with the StatusNotifierWatcher when
// there is one, and again whenever the watcher restarts.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether a StatusNotifierWatcher owns its name on the bus now.
    bool watcherPresent() const { return watcherPresent_; }
    // Whether a panel shows the watcher's items (IsStatusNotifierHostRegistered);
    // taken as true until the watcher has answered, and for a watcher that
    // cannot say.
    bool hostRegistered() const {
        return hostRegistered_.value_or(true) && !(hostNameSeen_ && hostNames_.isEmpty());
    }
    // Whether the watcher has said, since it took its name. A panel that
    // owned a host name on the bus and left it with none in its place draws
    // nothing, whatever the watcher still says (Plasma's kded5 reports
    // plasmashell's host after plasmashell is gone).
    bool hostKnown() const { return hostRegistered_.has_value(); }
    // Whether the item is on screen in a panel.
    bool shownOnPanel() const { return watcherPresent_ && hostRegistered() && !refused_; }
    // Whether the present watcher accepted our item.
    bool registered() const { return registered_; }
    // Whether the present name owner answered the registration with an error
    // (no watcher at all behind the name, or one that will not take the item).
    bool refused() const { return refused_; }
    // The bus name the item is exported under ("org.kde.StatusNotifierItem-<pid>-<n>").
    QString serviceName() const { return service_; }

    // One image per size; sent as ARGB32 (not premultiplied), big-endian.
    void setIcon(const QList<QImage>& sizes);
    // The same icon by name, in `themePath` (hosts that load icons only by
    // name); sent with the next NewIcon, so set it before setIcon.
    void setIconName(const QString& name, const QString& themePath);
    // The one entry of the item's menu, for hosts that answer a single click
    // with the menu; choosing it emits menuEntryChosen.
    void setMenuEntry(const QString& text);
    void setToolTip(const QString& title, const QString& text);
    // `guide` is the widest text the label will show, so the panel can keep its width.
    void setLabel(const QString& label, const QString& guide);
    // "Active" or "Passive".
    void setStatus(const QString& status);

    // Where the pointer is, where the window system tells (X11); nothing
    // elsewhere.
    void setCursorPositionSource(std::function<std::optional<QPoint>()> source);
    std::optional<QPoint> cursorPosition() const { return cursorPosition_(); }

Q_SIGNALS:
    // Activate, SecondaryActivate and ContextMenu, at the position the host
    // gave (brought onto the screens); XAyatanaSecondaryActivate gives none
    // and comes as (0, 0).
    void activated(QPoint globalPos);
    void menuEntryChosen();
    // The host opened or closed the item's menu.
    void menuShown(bool shown);
    // ProvideXdgActivationToken: the host lets the next window take focus with
    // it. Only printable ASCII of at most 512 characters comes through.
    void activationTokenProvided(const QString& token);
    void watcherPresenceChanged(bool present);
    // Also when the watcher first answers (see hostKnown).
    void hostRegisteredChanged(bool registered);
    void registeredChanged(bool registered);
    void refusedChanged(bool refused);

private Q_SLOTS:
    void queryHost();
    void busNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void itemUnregistered(const QString& id);

private:
    friend class StatusNotifierItemAdaptor;

    void activate(int x, int y);
    void provideActivationToken(const QString& token);
    void watcherOwnerChanged(const QString& oldOwner, const QString& newOwner);
    void noteHostName(const QString& name, bool owned);
    void registerWithWatcher();
    void setWatcherPresent(bool present);
    void setRegistered(bool registered);
    void setRefused(bool refused);
    void setHostRegistered(std::optional<bool> registered);

    QDBusConnection bus_;
    QString service_;
    StatusNotifierItemAdaptor* adaptor_ = nullptr;
    StatusNotifierMenu* menu_ = nullptr;
    std::function<std::optional<QPoint>()> cursorPosition_;
    bool exported_ = false;
    bool watcherPresent_ = false;
    bool registered_ = false;
    bool refused_ = false;
    // Registration replies of an earlier watcher are not ours to act on.
    quint64 registrationAttempt_ = 0;
    // A watcher too busy to answer is asked again, a few times.
    QTimer registrationRetry_;
    int unansweredRegistrations_ = 0;
    int droppedRegistrations_ = 0;
    std::optional<bool> hostRegistered_;
    quint64 hostQuery_ = 0;   // only the latest answer counts
    QSet<QString> hostNames_; // the panels' own names on the bus
    bool hostNameSeen_ = false;
};

} // namespace orvane::platform
