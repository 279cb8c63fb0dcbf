#include "platform/status_notifier_item.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QScreen>
#include <QtEndian>

#include <algorithm>
#include <atomic>

namespace orvane::platform::sni {

// One icon size as the item's wire format has it: `(iiay)`.
struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // big-endian ARGB32, not premultiplied

    bool operator==(const Pixmap&) const = default;
};
using PixmapList = QList<Pixmap>;

// `(sa(iiay)ss)`: icon name, icon, title, text.
struct ToolTip {
    QString iconName;
    PixmapList icon;
    QString title;
    QString text;
};

// com.canonical.dbusmenu: an entry with its children, `(ia{sv}av)`, each
// child a variant holding the same structure.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

// `(ia{sv})`: an entry's properties.
struct MenuProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuPropertiesList = QList<MenuProperties>;

// `(isvu)`: one event of EventGroup.
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

} // namespace orvane::platform::sni

Q_DECLARE_METATYPE(orvane::platform::sni::Pixmap)
Q_DECLARE_METATYPE(orvane::platform::sni::ToolTip)
Q_DECLARE_METATYPE(orvane::platform::sni::MenuLayout)
Q_DECLARE_METATYPE(orvane::platform::sni::MenuProperties)
Q_DECLARE_METATYPE(orvane::platform::sni::MenuEvent)

namespace orvane::platform {
namespace sni {

QDBusArgument& operator<<(QDBusArgument& out, const Pixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Pixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const ToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.icon << tip.title << tip.text;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.icon >> tip.title >> tip.text;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : entry.children)
        out << QDBusVariant(QVariant::fromValue(child));
    out.endArray();
    out.endStructure();
    return out;
}

// Hosts only receive layouts; read back for the type's registration and tests.
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.beginArray();
    entry.children.clear();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        entry.children.append(qdbus_cast<MenuLayout>(child.variant()));
    }
    in.endArray();
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuProperties& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuProperties& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event) {
    out.beginStructure();
    out << event.id << event.eventId << event.data << event.timestamp;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event) {
    in.beginStructure();
    in >> event.id >> event.eventId >> event.data >> event.timestamp;
    in.endStructure();
    return in;
}

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString menuPath = QStringLiteral("/MenuBar");
// What panels own on the bus while they show items.
const QString hostPrefixes[] = {QStringLiteral("org.kde.StatusNotifierHost-"),
                                QStringLiteral("org.freedesktop.StatusNotifierHost-")};
bool isHostName(const QString& name) {
    return std::any_of(std::begin(hostPrefixes), std::end(hostPrefixes),
                       [&](const QString& prefix) { return name.startsWith(prefix); });
}

// A watcher reads the item's properties back before it answers: well under a
// second on any panel, so ten seconds only run out on one that is stuck.
constexpr int kRegistrationTimeoutMs = 10'000;
constexpr int kRegistrationRetryMs = 5'000;
constexpr int kDroppedRetryMs = 1'000;
constexpr int kMostRegistrationRetries = 3;

Pixmap pixmapOf(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    Pixmap pixmap{argb.width(), argb.height(), {}};
    pixmap.argb.resize(qsizetype(argb.width()) * argb.height() * 4);
    uchar* out = reinterpret_cast<uchar*>(pixmap.argb.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4)
            qToBigEndian<quint32>(line[x], out);
    }
    return pixmap;
}

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<Pixmap>();
        qDBusRegisterMetaType<PixmapList>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuProperties>();
        qDBusRegisterMetaType<MenuPropertiesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEventList>();
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace
} // namespace sni

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(orvane::platform::sni::PixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(orvane::platform::sni::PixmapList OverlayIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionIconName READ noName)
    Q_PROPERTY(orvane::platform::sni::PixmapList AttentionIconPixmap READ noPixmap)
    Q_PROPERTY(orvane::platform::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), item_(item) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("orvane"); }
    QString title() const { return QStringLiteral("Orvane"); }
    QString status() const { return status_; }
    int windowId() const { return 0; }
    // Not a menu: hosts that honour it send Activate on a left click.
    bool itemIsMenu() const { return false; }
    // GNOME's extension and Budgie's AppIndicator applet answer a single
    // click with the menu alone: its one entry opens the popover.
    QDBusObjectPath menu() const { return QDBusObjectPath(sni::menuPath); }
    QString iconName() const { return iconName_; }
    QString iconThemePath() const { return iconThemePath_; }
    // Hosts ask for each of these by name, so the empty ones are exported too.
    QString noName() const { return {}; }
    sni::PixmapList noPixmap() const { return {}; }
    sni::PixmapList iconPixmap() const { return icon_; }
    sni::ToolTip toolTip() const { return toolTip_; }
    QString label() const { return label_; }
    QString labelGuide() const { return labelGuide_; }

    sni::PixmapList icon_;
    QString iconName_;
    QString iconThemePath_;
    sni::ToolTip toolTip_;
    QString label_;
    QString labelGuide_;
    QString status_ = QStringLiteral("Active");

public Q_SLOTS:
    void Activate(int x, int y) { item_->activate(x, y); }
    void SecondaryActivate(int x, int y) { item_->activate(x, y); }
    void ContextMenu(int x, int y) { item_->activate(x, y); }
    // Ayatana's middle click (GNOME's extension, Budgie): no position.
    void XAyatanaSecondaryActivate(uint) { item_->activate(0, 0); }
    void Scroll(int, const QString&) {}
    void ProvideXdgActivationToken(const QString& token) { item_->provideActivationToken(token); }

Q_SIGNALS:
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* item_;
};

// The item's menu over com.canonical.dbusmenu: a root with one entry. It
// never changes its layout, so it sends no LayoutUpdated: a host that reads
// it again on every such signal would never rest.
class StatusNotifierMenu : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    static constexpr int kEntryId = 1;
    explicit StatusNotifierMenu(StatusNotifierItem* item) : QObject(item), item_(item) {}
    QString entry;

    QVariantMap propertiesOf(int id) const {
        if (id == 0)
            return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
        if (id == kEntryId)
            return {{QStringLiteral("label"), entry},
                    {QStringLiteral("enabled"), true},
                    {QStringLiteral("visible"), true}};
        return {};
    }
    static QVariantMap only(QVariantMap properties, const QStringList& names) {
        if (names.isEmpty())
            return properties;
        for (auto it = properties.begin(); it != properties.end();)
            it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
        return properties;
    }
    static bool exists(int id) { return id == 0 || id == kEntryId; }
    // Answers the call being delivered (QtDBus gives the call to the
    // exported object, not to its adaptor) with an error.
    void refuse(const QString& message) const {
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs, message);
    }
    void event(int id, const QString& eventId) {
        if (id == kEntryId && eventId == QLatin1String("clicked"))
            Q_EMIT item_->menuEntryChosen();
        else if (id == 0 &&
                 (eventId == QLatin1String("opened") || eventId == QLatin1String("closed")))
            Q_EMIT item_->menuShown(eventId == QLatin1String("opened"));
    }

private:
    StatusNotifierItem* item_;
};

// Every call is answered: an error for an entry or property that does not
// exist, so a host never waits out its time-out.
class StatusNotifierMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit StatusNotifierMenuAdaptor(StatusNotifierMenu* menu)
        : QDBusAbstractAdaptor(menu), menu_(menu) {}

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   orvane::platform::sni::MenuLayout& layout) {
        if (!known(parentId))
            return 0;
        layout = {
            parentId, StatusNotifierMenu::only(menu_->propertiesOf(parentId), propertyNames), {}};
        if (parentId == 0 && recursionDepth != 0)
            layout.children.append(
                {StatusNotifierMenu::kEntryId,
                 StatusNotifierMenu::only(menu_->propertiesOf(StatusNotifierMenu::kEntryId),
                                          propertyNames),
                 {}});
        return 1; // the layout's revision: it never changes
    }
    // QtDBus finds the types by these names: no aliases in the signatures.
    // No ids asks for every entry; unknown ones are left out, and only
    // unknown ones are an error.
    QList<orvane::platform::sni::MenuProperties> GetGroupProperties(const QList<int>& ids,
                                                                    const QStringList& names) {
        sni::MenuPropertiesList found;
        for (const int id : ids.isEmpty() ? QList<int>{0, StatusNotifierMenu::kEntryId} : ids)
            if (StatusNotifierMenu::exists(id))
                found.append({id, StatusNotifierMenu::only(menu_->propertiesOf(id), names)});
        if (found.isEmpty())
            refuse(QStringLiteral("No such menu entries"));
        return found;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        const QVariant value = menu_->propertiesOf(id).value(name);
        if (known(id) && !value.isValid())
            refuse(QStringLiteral("No property \"%1\" on entry %2").arg(name.left(64)).arg(id));
        return QDBusVariant(value.isValid() ? value : QVariant(false));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (known(id))
            menu_->event(id, eventId);
    }
    QList<int> EventGroup(const QList<orvane::platform::sni::MenuEvent>& events) {
        QList<int> unknown;
        for (const sni::MenuEvent& event : events) {
            if (StatusNotifierMenu::exists(event.id))
                menu_->event(event.id, event.eventId);
            else
                unknown.append(event.id);
        }
        if (!events.isEmpty() && unknown.size() == events.size())
            refuse(QStringLiteral("No such menu entries"));
        return unknown;
    }
    // Nothing to update before the menu shows.
    bool AboutToShow(int id) {
        known(id);
        return false;
    }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        idErrors.clear();
        for (const int id : ids)
            if (!StatusNotifierMenu::exists(id))
                idErrors.append(id);
        if (!ids.isEmpty() && idErrors.size() == ids.size())
            refuse(QStringLiteral("No such menu entries"));
        return {};
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    // Whether `id` is an entry; answers the call with an error when not.
    bool known(int id) {
        if (StatusNotifierMenu::exists(id))
            return true;
        refuse(QStringLiteral("No menu entry %1").arg(id));
        return false;
    }
    void refuse(const QString& message) { menu_->refuse(message); }

    StatusNotifierMenu* menu_;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    static std::atomic<int> instances{0};
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++instances);
    // Only X11 tells where the pointer is outside our own windows.
    cursorPosition_ = []() -> std::optional<QPoint> {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
            QGuiApplication::platformName() == QLatin1String("xcb"))
            return QCursor::pos();
        return std::nullopt;
    };

    registrationRetry_.setSingleShot(true);
    registrationRetry_.setInterval(sni::kRegistrationRetryMs);
    connect(&registrationRetry_, &QTimer::timeout, this, [this] {
        if (watcherPresent_)
            registerWithWatcher();
    });

    // Known before the object is exported: properties of unknown types are left out.
    sni::registerTypes();
    adaptor_ = new StatusNotifierItemAdaptor(this);
    menu_ = new StatusNotifierMenu(this);
    new StatusNotifierMenuAdaptor(menu_);
    if (!bus_.isConnected())
        return;
    if (!bus_.registerObject(sni::itemPath, this, QDBusConnection::ExportAdaptors) ||
        !bus_.registerObject(sni::menuPath, menu_, QDBusConnection::ExportAdaptors)) {
        qWarning("StatusNotifierItem: %s or %s is taken on this connection",
                 qPrintable(sni::itemPath), qPrintable(sni::menuPath));
        bus_.unregisterObject(sni::itemPath);
        return;
    }
    if (!bus_.registerService(service_)) {
        qWarning("StatusNotifierItem: cannot own %s", qPrintable(service_));
        bus_.unregisterObject(sni::itemPath);
        bus_.unregisterObject(sni::menuPath);
        return;
    }
    exported_ = true;

    auto* watcher = new QDBusServiceWatcher(sni::watcherService, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                watcherOwnerChanged(oldOwner, newOwner);
            });
    // Panels coming and going; a watcher that restarts is followed by name.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.connect(sni::watcherService, sni::watcherPath, sni::watcherService,
                     QString::fromLatin1(signal), this, SLOT(queryHost()));
    bus_.connect(sni::watcherService, sni::watcherPath, sni::watcherService,
                 QStringLiteral("StatusNotifierItemUnregistered"), this,
                 SLOT(itemUnregistered(QString)));
    // Cinnamon's watcher tells of its panel only through its properties.
    bus_.connect(sni::watcherService, sni::watcherPath,
                 QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("PropertiesChanged"), this, SLOT(queryHost()));
    // The panels' own names: one vanishing with none left means no panel
    // draws the item, also when the watcher goes on reporting one.
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                 SLOT(busNameOwnerChanged(QString, QString, QString)));
    auto* names = new QDBusPendingCallWatcher(
        bus_.asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"))),
        this);
    connect(names, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                for (const QString& name : reply->reply().arguments().value(0).toStringList())
                    if (sni::isHostName(name))
                        noteHostName(name, true);
            });
    // Asked after the watch is in place, so an owner arriving in between is seen too.
    if (auto* daemon = bus_.interface();
        daemon && daemon->isServiceRegistered(sni::watcherService)) {
        watcherPresent_ = true;
        registerWithWatcher();
        queryHost();
    }
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!exported_)
        return;
    // Giving up the name is what tells the watcher the item is gone.
    bus_.unregisterService(service_);
    bus_.unregisterObject(sni::itemPath);
    bus_.unregisterObject(sni::menuPath);
}

void StatusNotifierItem::setIcon(const QList<QImage>& sizes) {
    sni::PixmapList icon;
    for (const QImage& image : sizes)
        if (!image.isNull())
            icon.append(sni::pixmapOf(image));
    if (icon == adaptor_->icon_)
        return;
    adaptor_->icon_ = std::move(icon);
    Q_EMIT adaptor_->NewIcon();
}

void StatusNotifierItem::setIconName(const QString& name, const QString& themePath) {
    adaptor_->iconName_ = name;
    adaptor_->iconThemePath_ = themePath;
}

void StatusNotifierItem::setMenuEntry(const QString& text) {
    menu_->entry = text;
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    sni::ToolTip& tip = adaptor_->toolTip_;
    if (tip.title == title && tip.text == text)
        return;
    tip.title = title;
    tip.text = text;
    Q_EMIT adaptor_->NewToolTip();
}

void StatusNotifierItem::setLabel(const QString& label, const QString& guide) {
    if (adaptor_->label_ == label && adaptor_->labelGuide_ == guide)
        return;
    adaptor_->label_ = label;
    adaptor_->labelGuide_ = guide;
    Q_EMIT adaptor_->XAyatanaNewLabel(label, guide);
}

void StatusNotifierItem::setStatus(const QString& status) {
    if (adaptor_->status_ == status)
        return;
    adaptor_->status_ = status;
    Q_EMIT adaptor_->NewStatus(status);
}

void StatusNotifierItem::setCursorPositionSource(std::function<std::optional<QPoint>()> source) {
    cursorPosition_ = std::move(source);
}

namespace {
// Any process on the bus may call: a position is brought onto the screens
// before anyone adds to it. Without screens, into the range window systems
// use, which leaves room for any offset.
QPoint onScreens(int x, int y) {
    QRect area(QPoint(-0x7fff, -0x7fff), QPoint(0x7fff, 0x7fff));
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QRect screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens |= screen->geometry();
        if (!screens.isEmpty())
            area = screens & area;
    }
    return {std::clamp(x, area.left(), area.right()), std::clamp(y, area.top(), area.bottom())};
}

// Activation tokens are short printable texts; anything else is no token
// and must not reach the environment handed to the programs we start.
bool isSaneActivationToken(const QString& token) {
    constexpr qsizetype kMaxLength = 512;
    return !token.isEmpty() && token.size() <= kMaxLength &&
           std::all_of(token.begin(), token.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}
} // namespace

void StatusNotifierItem::activate(int x, int y) {
    Q_EMIT activated(onScreens(x, y));
}

void StatusNotifierItem::provideActivationToken(const QString& token) {
    if (isSaneActivationToken(token))
        Q_EMIT activationTokenProvided(token);
}

void StatusNotifierItem::watcherOwnerChanged(const QString& oldOwner, const QString& newOwner) {
    // Whatever we sent the previous owner no longer counts.
    ++registrationAttempt_;
    registrationRetry_.stop();
    unansweredRegistrations_ = 0;
    droppedRegistrations_ = 0;
    ++hostQuery_;
    // A panel that left under the previous watcher says nothing of this one's.
    hostNameSeen_ = !hostNames_.isEmpty();
    setHostRegistered(std::nullopt); // the new owner's panels are not known yet
    setRefused(false);
    if (newOwner.isEmpty()) {
        setRegistered(false);
        setWatcherPresent(false);
        return;
    }
    if (!oldOwner.isEmpty())
        setRegistered(false);
    setWatcherPresent(true);
    registerWithWatcher();
    queryHost();
}

void StatusNotifierItem::queryHost() {
    if (!watcherPresent_)
        return;
    const quint64 query = ++hostQuery_;
    QDBusMessage get = QDBusMessage::createMethodCall(
        sni::watcherService, sni::watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << sni::watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, query](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (query != hostQuery_)
                    return;
                const QVariant value =
                    reply->isError()
                        ? QVariant()
                        : reply->reply().arguments().value(0).value<QDBusVariant>().variant();
                // A watcher that cannot say is taken at its word that it shows items.
                setHostRegistered(value.typeId() == QMetaType::Bool ? value.toBool() : true);
            });
}

void StatusNotifierItem::setHostRegistered(std::optional<bool> registered) {
    const bool was = hostRegistered();
    const bool wasKnown = hostKnown();
    hostRegistered_ = registered;
    if (was != hostRegistered() || wasKnown != hostKnown())
        Q_EMIT hostRegisteredChanged(hostRegistered());
}

void StatusNotifierItem::itemUnregistered(const QString& id) {
    // Ours, while we live: a watcher that dropped it (GNOME's extension, when
    // its own reading of a new item fails after a shell restart). Registered
    // again, a few times per watcher.
    const bool ours = id == service_ || id == bus_.baseService() + sni::itemPath ||
                      id == bus_.baseService() + u'@' + sni::itemPath;
    if (!ours || !watcherPresent_ || droppedRegistrations_ >= sni::kMostRegistrationRetries)
        return;
    ++droppedRegistrations_;
    setRegistered(false);
    const quint64 attempt = registrationAttempt_;
    QTimer::singleShot(sni::kDroppedRetryMs, this, [this, attempt] {
        if (watcherPresent_ && attempt == registrationAttempt_)
            registerWithWatcher();
    });
}

void StatusNotifierItem::busNameOwnerChanged(const QString& name, const QString&,
                                             const QString& newOwner) {
    if (sni::isHostName(name))
        noteHostName(name, !newOwner.isEmpty());
}

void StatusNotifierItem::noteHostName(const QString& name, bool owned) {
    const bool was = hostRegistered();
    // Bounded by the names the bus holds.
    if (owned)
        hostNames_.insert(name);
    else
        hostNames_.remove(name);
    hostNameSeen_ = hostNameSeen_ || owned;
    if (was != hostRegistered())
        Q_EMIT hostRegisteredChanged(hostRegistered());
    queryHost(); // the watcher may say more
}

void StatusNotifierItem::registerWithWatcher() {
    const quint64 attempt = ++registrationAttempt_;
    QDBusMessage call =
        QDBusMessage::createMethodCall(sni::watcherService, sni::watcherPath, sni::watcherService,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    // Never a blocking call: watchers read the item's properties back before
    // they answer, and the item answers only from this thread's event loop.
    auto* pending =
        new QDBusPendingCallWatcher(bus_.asyncCall(call, sni::kRegistrationTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attempt](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (attempt != registrationAttempt_)
                    return;
                const QDBusError::ErrorType error =
                    reply->isError() ? reply->error().type() : QDBusError::NoError;
                if (error != QDBusError::NoError)
                    qWarning("StatusNotifierItem: the watcher refused the item: %s",
                             qPrintable(reply->error().message()));
                setRegistered(error == QDBusError::NoError);
                // Meanwhile the pill shows; a later yes puts the item on the
                // panel alone again.
                setRefused(error != QDBusError::NoError);
                const bool unanswered = error == QDBusError::NoReply ||
                                        error == QDBusError::Timeout ||
                                        error == QDBusError::TimedOut;
                unansweredRegistrations_ = unanswered ? unansweredRegistrations_ + 1 : 0;
                if (unanswered && unansweredRegistrations_ <= sni::kMostRegistrationRetries)
                    registrationRetry_.start();
            });
}

void StatusNotifierItem::setWatcherPresent(bool present) {
    if (watcherPresent_ == present)
        return;
    watcherPresent_ = present;
    Q_EMIT watcherPresenceChanged(present);
}

void StatusNotifierItem::setRefused(bool refused) {
    if (refused_ == refused)
        return;
    refused_ = refused;
    Q_EMIT refusedChanged(refused);
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered_ == registered)
        return;
    registered_ = registered;
    Q_EMIT registeredChanged(registered);
}

} // namespace orvane::platform

#include "status_notifier_item.moc"
