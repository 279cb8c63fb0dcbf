#include "platform/status_notifier_item.h"

#include "support/await.h"
#include "support/fake_status_notifier_watcher.h"
#include "support/private_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>

using namespace orvane::platform;
namespace test = orvane::test;

namespace {

const QString sni = QStringLiteral("org.kde.StatusNotifierItem");
const QPoint cursor(640, 8);

// The item's signals as another program on the bus receives them.
class SignalLog : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> received;
public Q_SLOTS:
    void record(const QDBusMessage& message) { received.append(message); }
};

// `a(iiay)` as (width, height, bytes).
QList<std::tuple<int, int, QByteArray>> pixmapsOf(const QDBusArgument& arg) {
    QList<std::tuple<int, int, QByteArray>> pixmaps;
    arg.beginArray();
    while (!arg.atEnd()) {
        auto& [w, h, bytes] = pixmaps.emplace_back();
        arg.beginStructure();
        arg >> w >> h >> bytes;
        arg.endStructure();
    }
    arg.endArray();
    return pixmaps;
}

class StatusNotifierItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running())
            GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
        watcher.emplace(bus.connect("watcher"));
        ASSERT_TRUE(watcher->start());
        host = bus.connect("host");
    }

    std::unique_ptr<StatusNotifierItem> makeItem() {
        auto item = std::make_unique<StatusNotifierItem>(bus.connect(QString::number(++items)));
        item->setCursorPositionSource([] { return cursor; });
        return item;
    }

    // A call from the host; the item answers from this thread, so the loop runs meanwhile.
    QDBusMessage call(const StatusNotifierItem& to, const QString& interface, const QString& method,
                      const QVariantList& args, const QString& path = "/StatusNotifierItem") {
        QDBusMessage message =
            QDBusMessage::createMethodCall(to.serviceName(), path, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = host.asyncCall(message, 5000);
        EXPECT_TRUE(test::eventuallyTrue([&] { return pending.isFinished(); }));
        EXPECT_NE(pending.reply().type(), QDBusMessage::ErrorMessage) << method.toStdString();
        return pending.reply();
    }

    QVariantMap properties(const StatusNotifierItem& of) {
        const QDBusMessage reply = call(of, "org.freedesktop.DBus.Properties", "GetAll", {sni});
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    }

    test::PrivateBus bus;
    std::optional<test::FakeStatusNotifierWatcher> watcher;
    QDBusConnection host{QString()};
    int items = 0;
};

} // namespace

TEST_F(StatusNotifierItemTest, RegistersWithTheWatcherThatIsThereOrComesLater) {
    auto early = makeItem();
    std::vector<bool> presence, registered;
    QObject::connect(early.get(), &StatusNotifierItem::watcherPresenceChanged,
                     [&](bool present) { presence.push_back(present); });
    QObject::connect(early.get(), &StatusNotifierItem::registeredChanged,
                     [&](bool is) { registered.push_back(is); });
    EXPECT_TRUE(early->watcherPresent());
    ASSERT_TRUE(test::eventuallyTrue([&] { return early->registered(); }));

    watcher->stop();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !early->watcherPresent(); }));
    EXPECT_FALSE(early->registered());
    auto late = makeItem();
    EXPECT_FALSE(late->watcherPresent());

    ASSERT_TRUE(watcher->start());
    ASSERT_TRUE(test::eventuallyTrue([&] { return early->registered() && late->registered(); }));
    EXPECT_EQ(presence, std::vector<bool>({false, true}));
    EXPECT_EQ(registered, std::vector<bool>({true, false, true}));
    EXPECT_NE(early->serviceName(), late->serviceName());
    EXPECT_EQ(watcher->registrations.count(early->serviceName()), 2);
    EXPECT_EQ(watcher->registrations.count(late->serviceName()), 1);
}

// GNOME's extension drops an item whose reading failed, and says so: the
// item registers again; another item's drop is not ours.
TEST_F(StatusNotifierItemTest, AnItemTheWatcherDroppedRegistersAgain) {
    auto item = makeItem();
    ASSERT_TRUE(test::eventuallyTrue([&] { return item->registered(); }));
    Q_EMIT watcher->StatusNotifierItemUnregistered("org.kde.StatusNotifierItem-1-99");
    for (const int registrations : {2, 3}) {
        Q_EMIT watcher->StatusNotifierItemUnregistered(item->serviceName());
        EXPECT_TRUE(test::eventuallyTrue(
            [&] { return watcher->registrations.count(item->serviceName()) == registrations; }));
    }
}

// A watcher stuck on the first registration: meanwhile the item counts as
// refused (the pill shows), and it is asked again until it answers.
TEST_F(StatusNotifierItemTest, AWatcherThatDoesNotAnswerIsAskedAgain) {
    watcher->leaveUnanswered = 1;
    auto item = makeItem();
    std::vector<bool> refused;
    QObject::connect(item.get(), &StatusNotifierItem::refusedChanged,
                     [&](bool is) { refused.push_back(is); });
    ASSERT_TRUE(test::eventuallyTrue([&] { return item->registered(); }));
    EXPECT_EQ(refused, std::vector<bool>({true, false}));
    EXPECT_FALSE(item->refused());
    EXPECT_EQ(watcher->registrations.count(item->serviceName()), 2);
}

TEST_F(StatusNotifierItemTest, HostsReadThePropertiesAsSet) {
    auto item = makeItem();
    item->setToolTip("Orvane", "0:12:05");
    item->setLabel("0:12:05", "00:00:00");
    item->setStatus("Passive");
    item->setIconName("orvane-idle", "/run/user/1000/orvane-icons-x");

    const QVariantMap values = properties(*item);
    const std::pair<const char*, QVariant> expected[] = {
        {"Category", "ApplicationStatus"},
        {"Id", "orvane"},
        {"Title", "Orvane"},
        {"Status", "Passive"},
        {"IconName", "orvane-idle"},
        {"IconThemePath", "/run/user/1000/orvane-icons-x"},
        {"OverlayIconName", ""},
        {"ItemIsMenu", false},
        {"WindowId", 0},
        {"XAyatanaLabel", "0:12:05"},
        {"XAyatanaLabelGuide", "00:00:00"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(values.value(name), value) << name;
    EXPECT_EQ(values.value("Menu").value<QDBusObjectPath>().path(), "/MenuBar");
    for (const char* name : {"IconPixmap", "AttentionIconPixmap", "OverlayIconPixmap"})
        EXPECT_EQ(values.value(name).value<QDBusArgument>().currentSignature(), "a(iiay)") << name;

    const auto tip = values.value("ToolTip").value<QDBusArgument>();
    ASSERT_EQ(tip.currentSignature(), "(sa(iiay)ss)");
    QString iconName, title, text;
    tip.beginStructure();
    tip >> iconName;
    EXPECT_TRUE(pixmapsOf(tip).isEmpty()); // the host shows the item's own icon
    tip >> title >> text;
    tip.endStructure();
    EXPECT_EQ(title, "Orvane");
    EXPECT_EQ(text, "0:12:05");
}

TEST_F(StatusNotifierItemTest, IconPixmapIsStraightBigEndianArgbOfEachSize) {
    const std::tuple<QImage::Format, QRgb, QByteArray> cases[] = {
        {QImage::Format_ARGB32, qRgba(0x12, 0x34, 0x56, 0x78), "78123456"},
        // Alpha 0x33 is a fifth, so premultiplied 10 20 30 comes back exact.
        {QImage::Format_ARGB32_Premultiplied, qRgba(0x50, 0xa0, 0xf0, 0x33), "3350a0f0"},
        {QImage::Format_RGB32, qRgb(0x01, 0x02, 0x03), "ff010203"},
    };
    auto item = makeItem();
    for (const auto& [format, pixel, wire] : cases) {
        QList<QImage> sizes;
        for (int side : {16, 22}) {
            QImage image(side, side, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            image.setPixel(3, 1, pixel);
            sizes.append(image.convertToFormat(format));
        }
        item->setIcon(sizes);

        const auto pixmaps =
            pixmapsOf(properties(*item).value("IconPixmap").value<QDBusArgument>());
        ASSERT_EQ(pixmaps.size(), 2);
        for (const auto& [w, h, bytes] : pixmaps) {
            ASSERT_EQ(bytes.size(), w * h * 4);
            EXPECT_EQ(bytes.mid((w + 3) * 4, 4).toHex(), wire) << "format " << format << ", " << w;
        }
        EXPECT_EQ(std::get<0>(pixmaps[1]), 22);
    }
}

TEST_F(StatusNotifierItemTest, SettersSignalOnlyWhatChanged) {
    // Each setter runs with value 1, 1 again, then 2: two signals, the first carrying 1.
    const std::tuple<const char*, std::function<void(StatusNotifierItem&, int)>, QVariantList>
        cases[] = {
            {"NewIcon",
             [](auto& item, int n) {
                 QImage image(16, 16, QImage::Format_ARGB32);
                 image.fill(n == 1 ? Qt::red : Qt::blue);
                 item.setIcon({image});
             },
             {}},
            {"NewToolTip",
             [](auto& item, int n) { item.setToolTip("Orvane", QString::number(n)); },
             {}},
            {"XAyatanaNewLabel",
             [](auto& item, int n) { item.setLabel(QString::number(n), "00"); },
             {"1", "00"}},
            {"NewStatus",
             [](auto& item, int n) { item.setStatus(n == 1 ? "Passive" : "Active"); },
             {"Passive"}},
        };
    for (const auto& [signal, set, firstArgs] : cases) {
        auto item = makeItem();
        SignalLog log;
        ASSERT_TRUE(host.connect(item->serviceName(), "/StatusNotifierItem", sni, signal, &log,
                                 SLOT(record(QDBusMessage))));
        set(*item, 1);
        set(*item, 1);
        set(*item, 2);
        properties(*item); // its reply comes after every signal sent before it
        ASSERT_EQ(log.received.size(), 2) << signal;
        EXPECT_EQ(log.received[0].arguments(), firstArgs) << signal;
    }
}

TEST_F(StatusNotifierItemTest, ActivationOpensAtTheHostsPositionOrElseAtTheCursor) {
    const std::tuple<const char*, int, int, QPoint> cases[] = {
        {"Activate", 1200, 30, {1200, 30}},
        {"SecondaryActivate", 1200, 30, {1200, 30}},
        {"ContextMenu", 1200, 30, {1200, 30}},
        {"Activate", 0, 0, {0, 0}},
    };
    auto item = makeItem();
    QList<QPoint> seen;
    QObject::connect(item.get(), &StatusNotifierItem::activated, [&](QPoint at) { seen << at; });
    for (const auto& [method, x, y, expected] : cases) {
        seen.clear();
        call(*item, sni, method, {x, y});
        EXPECT_EQ(seen, QList<QPoint>{expected}) << method << " " << x << "," << y;
    }
    seen.clear();
    call(*item, sni, "XAyatanaSecondaryActivate", {uint(4711)}); // a middle click
    EXPECT_EQ(seen, QList<QPoint>{QPoint(0, 0)});

    QString token;
    QObject::connect(item.get(), &StatusNotifierItem::activationTokenProvided,
                     [&](const QString& given) { token = given; });
    call(*item, sni, "ProvideXdgActivationToken", {"tok-1"});
    EXPECT_EQ(token, "tok-1");
}

// GNOME's extension and Budgie's AppIndicator applet open the item's menu
// on a single click: it must be there, and its one entry must open Orvane.
TEST_F(StatusNotifierItemTest, TheMenuHostsOpenOnAClickHasOneEntryThatOpensOrvane) {
    auto item = makeItem();
    item->setMenuEntry("Orvane öffnen");
    int chosen = 0;
    QObject::connect(item.get(), &StatusNotifierItem::menuEntryChosen, [&] { ++chosen; });
    const QString menu = "com.canonical.dbusmenu";
    const auto ask = [&](const QString& interface, const QString& method,
                         const QVariantList& args) {
        return call(*item, interface, method, args, "/MenuBar").arguments().value(0);
    };
    EXPECT_EQ(call(*item, menu, "GetLayout", {0, -1, QStringList()}, "/MenuBar")
                  .arguments()
                  .value(1)
                  .value<QDBusArgument>()
                  .currentSignature(),
              "(ia{sv}av)");
    EXPECT_EQ(ask(menu, "GetProperty", {1, "label"}).value<QDBusVariant>().variant(),
              "Orvane öffnen");
    EXPECT_EQ(ask(menu, "AboutToShow", {1}), false) << "nothing to update";
    ask(menu, "Event", {1, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(chosen, 1);

    // What the menu does not have is an error at once, never a call left
    // to run out its time-out.
    const std::pair<const char*, QVariantList> missing[] = {
        {"GetProperty", {1, "icon-name"}},
        {"GetProperty", {7, "label"}},
        {"GetLayout", {7, -1, QStringList()}},
        {"GetGroupProperties", {QVariant::fromValue(QList<int>{7, 8}), QStringList()}},
        {"Event", {7, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u}},
        {"AboutToShow", {7}},
        {"AboutToShowGroup", {QVariant::fromValue(QList<int>{7})}},
    };
    for (const auto& [method, args] : missing) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(item->serviceName(), "/MenuBar", menu, method);
        message.setArguments(args);
        QDBusPendingCall pending = host.asyncCall(message, 5000);
        ASSERT_TRUE(test::eventuallyTrue([&] { return pending.isFinished(); }));
        EXPECT_EQ(pending.reply().errorName(), "org.freedesktop.DBus.Error.InvalidArgs") << method;
    }
    EXPECT_EQ(chosen, 1);
}

// However a panel's going away is told: the item counts as shown nowhere
// (so the pill stands in), and shown again when the panel is back.
TEST_F(StatusNotifierItemTest, APanelLeavingIsNoticedHoweverTheWatcherTellsIt) {
    QDBusConnection panel = bus.connect("panel");
    const QString hostName = "org.kde.StatusNotifierHost-4711";
    // The watcher's signals; its PropertiesChanged alone (Cinnamon); the
    // panel's name, the watcher still reporting a panel (Plasma's kded5);
    // that panel gone, then a new watcher whose panel owns no such name.
    for (const int how : {0, 1, 2, 3}) {
        SCOPED_TRACE(how);
        watcher->onlyThroughProperties = how == 1;
        int ups = 0;
        const auto panelUp = [&](bool up) {
            watcher->setHostRegistered(up || how >= 2);
            if (how == 3 && up && ups++ > 0) {
                watcher->stop();
                ASSERT_TRUE(watcher->start());
            } else if (how >= 2 && up) {
                panel.registerService(hostName);
            } else if (how >= 2) {
                panel.unregisterService(hostName);
            }
        };
        panelUp(true);
        auto item = makeItem();
        ASSERT_TRUE(test::eventuallyTrue([&] { return item->registered() && item->hostKnown(); }));
        EXPECT_TRUE(item->shownOnPanel());
        panelUp(false);
        EXPECT_TRUE(test::eventuallyTrue([&] { return !item->shownOnPanel(); }));
        panelUp(true);
        EXPECT_TRUE(test::eventuallyTrue([&] { return item->shownOnPanel(); }));
    }
}

// Any process on the bus may call these.
TEST_F(StatusNotifierItemTest, ExtremeCoordinatesAndOddTokensFromTheBusAreTamed) {
    constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
    auto item = makeItem();
    QList<QPoint> seen;
    QObject::connect(item.get(), &StatusNotifierItem::activated, [&](QPoint at) { seen << at; });
    call(*item, sni, "Activate", {kMax, kMax});
    call(*item, sni, "SecondaryActivate", {kMin, kMax});
    call(*item, sni, "ContextMenu", {kMax, kMin});
    call(*item, sni, "Scroll", {kMin, QStringLiteral("vertical")});
    ASSERT_EQ(seen.size(), 3);
    for (const QPoint at : seen) // room left for any offset a window is placed with
        EXPECT_TRUE(QRect(-0x7fff, -0x7fff, 0xffff, 0xffff).contains(at))
            << at.x() << "," << at.y();

    QStringList passed;
    QObject::connect(item.get(), &StatusNotifierItem::activationTokenProvided,
                     [&](const QString& token) { passed << token; });
    const QString tokens[] = {
        "kwin-4711_TIME1", QString(512, u'a'), QString(513, u'a'), "",
        "tok\nDISPLAY=:9", "tok en",           "tok\x01",          "t\u00f6k"};
    for (const QString& token : tokens)
        call(*item, sni, "ProvideXdgActivationToken", {token});
    EXPECT_EQ(passed, (QStringList{"kwin-4711_TIME1", QString(512, u'a')}));
}

#include "status_notifier_item_test.moc"
